#ifndef RCON_STOP_SIGNAL_H
#define RCON_STOP_SIGNAL_H

#include <signal.h>

/// Whether the run is to stop: set on SIGINT, SIGTERM or SIGABRT, read
/// afresh at every test.
extern volatile sig_atomic_t stop_requested;

/// The handler for those three signals. It stays installed for the whole
/// run, sets stop_requested, ends a pause or a wait for the script at once,
/// and starts the second that output has left (start_output_deadline()). It
/// prints nothing. A stop during set-up ends the run before its first pass.
void on_stop_signal(int sig);

#endif
