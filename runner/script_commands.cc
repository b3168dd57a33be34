#include "runner/script_commands.h"

#include <stdint.h>
#include <string.h>
#include <time.h>

#include "number/decimal.h"
#include "output/output.h"
#include "platform/platform.h"
#include "runner/stop_signal.h"

enum { KEYWORD_LEN = 5, WAIT_STEP_MS = 500 };  // a wait drains every half second
enum script_keyword { KEYWORD_NONE, KEYWORD_RCON, KEYWORD_ECHO, KEYWORD_WAIT };

// Returns the calendar clock in whole seconds, cut to 32 bits.
static int32_t clock_seconds() {
  return as_signed32(static_cast<uint32_t>(time(nullptr)));
}

// Returns when the clock has moved \a seconds on from its first reading, or
// at a stop; prints the server's replies every half second meanwhile. The
// end time wraps in 32 bits, so a sum past the clock's range ends at once.
static void wait_seconds(const rcon_link* link, const char* seconds) {
  uint32_t start = static_cast<uint32_t>(clock_seconds());
  int32_t end = as_signed32(start + parse_decimal_wrapped(seconds));
  if (stop_requested) return;
  while (clock_seconds() < end) {
    rcon_drain(link);
    pause_unless_stopped(WAIT_STEP_MS, &stop_requested);
    if (stop_requested) return;
  }
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
void run_script_line(const rcon_link* link, const char* line) {
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
