#include "runner/stop_signal.h"

#include <errno.h>

#include "output/output.h"
#include "platform/platform.h"

volatile sig_atomic_t stop_requested = 0;

void on_stop_signal(int sig) {
  int saved = errno;  // the program's, which the calls below may change
  keep_stop_handler(sig);
  stop_requested = 1;
  wake_waits();
  start_output_deadline();
  errno = saved;
}
