#include "runner/script_pass.h"

#include <string.h>

#include "platform/platform.h"
#include "runner/script_commands.h"
#include "runner/script_reader.h"
#include "runner/stop_signal.h"
#include "runner/waiting.h"

enum { PASS_SPACING_MS = 500 };  // from the start of one pass to the next

// Removes the line feed that ends \a line, if any; nothing else is trimmed.
static void drop_final_line_feed(char* line) {
  size_t len = strlen(line);
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
}

int run_pass(rcon_link* link, const char* path) {
  script_reader reader;
  if (!script_open(&reader, path, link)) return reader.error;
  char line[SCRIPT_LINE_MAX + 1];
  for (;;) {
    size_t len = script_read_line(&reader, line);
    if (len == 0 || stop_requested) break;
    drop_final_line_feed(line);
    run_script_line(link, line);
    rcon_drain(link);
  }
  script_close(&reader);
  return reader.error;
}

void pace_passes(rcon_link* link, long long started_ms) {
  (void)wait_printing_replies(link, -1, started_ms + PASS_SPACING_MS);
}
