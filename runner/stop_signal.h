#ifndef RCON_STOP_SIGNAL_H
#define RCON_STOP_SIGNAL_H

#include <signal.h>

/// Whether the run is to stop: set on SIGINT, SIGTERM or SIGABRT, cleared
/// once when set-up ends, read afresh at every test.
extern volatile sig_atomic_t stop_requested;

/// The handler for those three signals. It stays installed for the whole
/// run, sets stop_requested and ends a pause or a wait for the script at
/// once; once set-up has ended, it also starts the second that output has
/// left (start_output_deadline()). It prints nothing.
void on_stop_signal(int sig);

/// Ends set-up: a stop asked for during it is forgotten, with all that it
/// started, so that the run goes on as if none had come.
void end_set_up();

#endif
