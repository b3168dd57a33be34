#ifndef RCON_STOP_SIGNAL_H
#define RCON_STOP_SIGNAL_H

#include <signal.h>

/// Whether the run is to stop: set on SIGINT, SIGTERM or SIGABRT, cleared
/// once before the first pass, read afresh at every test.
extern volatile sig_atomic_t stop_requested;

/// The handler for those three signals: sets stop_requested, then calls the
/// platform's stop_signal_hook(), which keeps the handler installed and
/// wakes a wait under way. It prints nothing.
void on_stop_signal(int sig);

#endif
