#include "number/decimal.h"

// The C locale's white space: what atoi() skips.
static int is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Unsigned arithmetic wraps by definition, so no digit run can overflow.
uint32_t parse_decimal_wrapped(const char* text) {
  while (is_space(*text)) text++;
  int negative = *text == '-';
  if (*text == '-' || *text == '+') text++;
  uint32_t n = 0;
  for (; *text >= '0' && *text <= '9'; text++)
    n = n * 10u + static_cast<uint32_t>(*text - '0');
  return negative ? 0u - n : n;
}

int32_t as_signed32(uint32_t v) {
  if (v <= INT32_MAX) return static_cast<int32_t>(v);
  return -static_cast<int32_t>(UINT32_MAX - v) - 1;
}
