#include "runner/stop_signal.h"

#include "platform/platform.h"

volatile sig_atomic_t stop_requested = 0;

void on_stop_signal(int sig) {
  keep_stop_handler(sig, on_stop_signal);
  stop_requested = 1;
  wake_from_pause();
}
