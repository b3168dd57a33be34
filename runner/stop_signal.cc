#include "runner/stop_signal.h"

#include <errno.h>

#include "output/output.h"
#include "platform/platform.h"

volatile sig_atomic_t stop_requested = 0;
static volatile sig_atomic_t set_up_ended = 0;

// A wake-up that comes during set-up is harmless: every wait empties what
// woke it before it tests the flag.
void on_stop_signal(int sig) {
  int saved = errno;  // the program's, which the calls below may change
  keep_stop_handler(sig);
  stop_requested = 1;
  wake_waits();
  if (set_up_ended) start_output_deadline();
  errno = saved;
}

void end_set_up() {
  stop_requested = 0;
  set_up_ended = 1;
  // A stop that landed just before set_up_ended was set started nothing.
  if (stop_requested) start_output_deadline();
}
