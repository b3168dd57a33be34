#ifndef RCON_SCRIPT_PASS_H
#define RCON_SCRIPT_PASS_H

#include "link/rcon_link.h"

/// Runs the script at \a path once, up to its end or a stop: carries out
/// each line and drains the server's replies after it, whatever the line
/// was. Returns 0, or the error number that kept the script from being read:
/// it could not be opened, or a read failed.
int run_pass(rcon_link* link, const char* path);

/// In loop mode, between passes: returns half a second after \a started_ms,
/// when the pass that has ended began by monotonic_ms(), or at once if that
/// time has passed or a stop comes; drains the server's replies meanwhile.
/// So a script that takes no time, or cannot be read, never floods the
/// server or burns a core.
void pace_passes(rcon_link* link, long long started_ms);

#endif
