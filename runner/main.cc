// rcon-script: drives a game server's remote console from a script file.
//
//   rcon-script ADDRESS:PORT PASSWORD MODE SCRIPT
//
// MODE "loop" runs the script again and again until a stop signal; anything
// else runs it once. A stop during set-up ends the run before its first
// pass. The exit status is 1 for wrong usage, a failed set-up, lost output,
// and in a single run for a script that cannot be read or a command or reply
// that was lost (rcon_link's lost); 0 otherwise.
#include <stdlib.h>
#include <string.h>

#include "link/rcon_link.h"
#include "output/output.h"
#include "platform/platform.h"
#include "runner/script_pass.h"
#include "runner/script_reader.h"
#include "runner/stop_signal.h"

int main(int argc, char** argv) {
  hold_standard_descriptors();
  if (argc != 5) exit(1);
  // Before anything else: the process list shows the arguments to every
  // user of the machine for as long as the program runs.
  rcon_link link;
  rcon_keep_password(&link, argv[2]);
  hide_argument(argv, 2);
  output_to(1);
  install_stop_handler(on_stop_signal);
  int loop = strcmp(argv[3], "loop") == 0;
  if (!rcon_open(&link, argv[1])) exit(1);
  int last_error = 0;  // what kept the last pass from reading the script
  while (!stop_requested) {
    long long started = monotonic_ms();
    int error = run_pass(&link, argv[4]);
    // Said when it changes: once while the script stays unreadable.
    if (error != 0 && error != last_error) {
      say_cannot_read(argv[4], script_error_text(error));
    }
    last_error = error;
    if (!loop) break;
    pace_passes(&link, started);
  }
  rcon_say_losses(&link, 1);
  rcon_close(link.sock);
  int status = output_exit_status();
  if (!loop && (last_error != 0 || link.lost)) status = 1;
  return status;
}
