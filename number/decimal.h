#ifndef RCON_DECIMAL_H
#define RCON_DECIMAL_H

#include <stdint.h>

/// Reads \a text the way atoi() and atol() do: leading white space, one
/// optional sign, then digits up to the first non-digit; no digits gives 0.
/// Returns the number modulo 2^32, so a negative number comes back in two's
/// complement and a run of digits too long for 32 bits wraps around.
uint32_t parse_decimal_wrapped(const char* text);

/// Reads a UDP port from \a text: digits, with white space around them and
/// a "+" before them allowed. Returns it, or 0 when the text is anything
/// else or the port is not one from 1 to 65535.
uint16_t parse_port(const char* text);

/// Returns \a v read as a 32-bit two's complement number.
int32_t as_signed32(uint32_t v);

#endif
