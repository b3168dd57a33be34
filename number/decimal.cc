#include "number/decimal.h"

// The parts of a decimal number as atoi() reads them.
struct decimal {
  int negative;
  int digits;        // how many there were
  uint32_t wrapped;  // their value modulo 2^32
  uint32_t capped;   // their value, or UINT32_MAX for anything larger
  const char* end;   // the first character after them
};

// The C locale's white space: what atoi() skips.
static int is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Unsigned arithmetic wraps by definition, so no digit run can overflow.
static decimal scan_decimal(const char* text) {
  while (is_space(*text)) text++;
  decimal d = {*text == '-', 0, 0, 0, text};
  if (*text == '-' || *text == '+') text++;
  for (; *text >= '0' && *text <= '9'; text++) {
    uint32_t digit = static_cast<uint32_t>(*text - '0');
    d.digits++;
    d.wrapped = d.wrapped * 10u + digit;
    if (d.capped > (UINT32_MAX - digit) / 10u) {
      d.capped = UINT32_MAX;
    } else {
      d.capped = d.capped * 10u + digit;
    }
  }
  d.end = text;
  return d;
}

uint32_t parse_decimal_wrapped(const char* text) {
  decimal d = scan_decimal(text);
  return d.negative ? 0u - d.wrapped : d.wrapped;
}

uint16_t parse_port(const char* text) {
  decimal d = scan_decimal(text);
  const char* rest = d.end;
  while (is_space(*rest)) rest++;
  // A typo such as "2796O" or a second colon must not send the password to
  // another port.
  if (d.negative || d.digits == 0 || *rest != '\0') return 0;
  if (d.capped > 65535) return 0;
  return static_cast<uint16_t>(d.capped);
}

// Other readers of addresses take octal, hex, short forms and what follows a
// blank: each of those would send the password to a host that nobody named.
const char* parse_dotted_quad(const char* text, uint32_t* address) {
  uint32_t value = 0;
  for (int part = 0; part < 4; part++) {
    if (part > 0 && *text++ != '.') return nullptr;
    if (*text < '0' || *text > '9') return nullptr;  // no blank, sign or empty part
    decimal d = scan_decimal(text);
    if (d.capped > 255 || (d.digits > 1 && *text == '0')) return nullptr;
    value = value << 8 | d.capped;
    text = d.end;
  }
  *address = value;
  return text;
}

int32_t as_signed32(uint32_t v) {
  if (v <= INT32_MAX) return static_cast<int32_t>(v);
  return -static_cast<int32_t>(UINT32_MAX - v) - 1;
}
