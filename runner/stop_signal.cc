#include "runner/stop_signal.h"

#include "platform/platform.h"

volatile sig_atomic_t stop_requested = 0;

void on_stop_signal(int sig) {
  stop_requested = 1;
  stop_signal_hook(sig);
}
