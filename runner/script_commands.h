#ifndef RCON_SCRIPT_COMMANDS_H
#define RCON_SCRIPT_COMMANDS_H

#include "link/rcon_link.h"

enum script_keyword { KEYWORD_NONE, KEYWORD_RCON, KEYWORD_ECHO, KEYWORD_WAIT };

/// Returns the command that \a line starts with: "rcon ", "echo " or "wait "
/// exactly, at its very start; KEYWORD_NONE for any other line.
script_keyword keyword_of(const char* line);

/// Carries out one script line, its final line feed already removed:
/// "rcon " sends the rest of the line, "echo " prints it, "wait " pauses for
/// that many seconds while draining replies; any other line does nothing.
void run_script_line(const rcon_link* link, const char* line);

#endif
