// rcon-script: drives a game server's remote console from a script file.
//
//   rcon-script ADDRESS:PORT PASSWORD MODE SCRIPT
//
// MODE "loop" runs the script again and again until a stop signal; anything
// else runs it once. The exit status is 1 for wrong usage, a failed set-up
// or lost output, and 0 otherwise.
#include <stdlib.h>
#include <string.h>

#include "link/rcon_link.h"
#include "output/output.h"
#include "platform/platform.h"
#include "runner/script_commands.h"
#include "runner/script_reader.h"
#include "runner/stop_signal.h"

// Removes the line feed that ends \a line, if any; nothing else is trimmed.
static void drop_final_line_feed(char* line) {
  size_t len = strlen(line);
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
}

// Runs the script at \a path once, up to its end or a stop. A script that
// cannot be opened makes an empty pass.
static void run_pass(const rcon_link* link, const char* path) {
  script_reader reader;
  if (!script_open(&reader, path)) return;
  char line[SCRIPT_LINE_MAX + 1];
  while (script_read_line(&reader, line) > 0 && !stop_requested) {
    drop_final_line_feed(line);
    run_script_line(link, line);
    rcon_drain(link);
  }
  script_close(&reader);
}

int main(int argc, char** argv) {
  hold_standard_descriptors();
  if (argc != 5) exit(1);
  output_to(1);
  install_stop_handler(on_stop_signal);
  int loop = strcmp(argv[3], "loop") == 0;
  rcon_link link;
  if (!rcon_open(&link, argv[1], argv[2])) exit(1);
  stop_requested = 0;  // a stop asked for during set-up is forgotten
  do {
    run_pass(&link, argv[4]);
  } while (loop && !stop_requested);
  rcon_close(link.sock);
  return output_exit_status();
}
