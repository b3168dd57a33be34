#include "runner/script_commands.h"

#include <stdint.h>
#include <string.h>

#include "number/decimal.h"
#include "output/output.h"
#include "platform/platform.h"
#include "runner/waiting.h"

enum { KEYWORD_LEN = 5 };
enum script_keyword { KEYWORD_NONE, KEYWORD_RCON, KEYWORD_ECHO, KEYWORD_WAIT };

// Returns once \a seconds have passed on a clock that only moves forward,
// whatever is done to the time of day, or at a stop; prints the server's
// replies as they come meanwhile. The number is read in 32 bits; one that is
// not positive ends the wait at once.
static void wait_seconds(rcon_link* link, const char* seconds) {
  int32_t n = as_signed32(parse_decimal_wrapped(seconds));
  if (n <= 0) return;
  (void)wait_printing_replies(link, -1, monotonic_ms() + 1000LL * n);
}

// Returns the command that \a line starts with: "rcon ", "echo " or "wait "
// exactly, at its very start; KEYWORD_NONE for any other line.
static script_keyword keyword_of(const char* line) {
  if (strncmp(line, "rcon ", KEYWORD_LEN) == 0) return KEYWORD_RCON;
  if (strncmp(line, "echo ", KEYWORD_LEN) == 0) return KEYWORD_ECHO;
  if (strncmp(line, "wait ", KEYWORD_LEN) == 0) return KEYWORD_WAIT;
  return KEYWORD_NONE;
}

// The argument is everything after the keyword, untrimmed, possibly empty.
void run_script_line(rcon_link* link, const char* line) {
  switch (keyword_of(line)) {
    case KEYWORD_RCON:
      rcon_send(link, line + KEYWORD_LEN);
      break;
    case KEYWORD_ECHO:
      print_line(line + KEYWORD_LEN);
      break;
    case KEYWORD_WAIT:
      wait_seconds(link, line + KEYWORD_LEN);
      break;
    case KEYWORD_NONE:
      break;
  }
}
