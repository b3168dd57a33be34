#ifndef RCON_STOP_SIGNAL_H
#define RCON_STOP_SIGNAL_H

#include <signal.h>

/// Whether the run is to stop: set on SIGINT, SIGTERM or SIGABRT, cleared
/// once before the first pass, read afresh at every test.
extern volatile sig_atomic_t stop_requested;

/// The handler for those three signals: keeps itself installed and sets
/// stop_requested; does nothing else.
void on_stop_signal(int sig);

#endif
