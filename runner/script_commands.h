#ifndef RCON_SCRIPT_COMMANDS_H
#define RCON_SCRIPT_COMMANDS_H

#include "link/rcon_link.h"

/// Carries out one script line, its final line feed already removed:
/// "rcon " sends the rest of the line, "echo " prints it, "wait " pauses for
/// that many seconds while printing replies; any other line does nothing.
void run_script_line(rcon_link* link, const char* line);

#endif
