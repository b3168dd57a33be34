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

/// Reads a dotted IPv4 address from the start of \a text: four decimal
/// numbers from 0 to 255, each without a leading zero (a lone 0 is one),
/// joined by single dots. Puts it in \a address, in host byte order, and
/// returns the first character after it; returns nullptr when \a text does
/// not start with such an address.
const char* parse_dotted_quad(const char* text, uint32_t* address);

/// Returns \a v read as a 32-bit two's complement number.
int32_t as_signed32(uint32_t v);

#endif
