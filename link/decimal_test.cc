#include "link/decimal.h"

#include <gtest/gtest.h>

TEST(ParseDecimalWrapped, ReadsLikeAtolAndWrapsAt32Bits) {
  const struct {
    const char* text;
    uint32_t want;
  } cases[] = {
      {"27960", 27960},
      {" \t\n\v\f\r+12 seconds", 12},  // white space, sign, then digits only
      {"-1", 0xFFFFFFFFu},
      {"-2147483648", 0x80000000u},
      {"4294967297", 1},                     // 2^32 + 1
      {"99999999999999999999", 1661992959},  // 10^20 - 1 modulo 2^32
      {"", 0},
      {"abc", 0},
      {"- 5", 0},
      {"+-5", 0},
      {"0x10", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(parse_decimal_wrapped(c.text), c.want) << c.text;
}

TEST(AsSigned32, IsTwosComplement) {
  EXPECT_EQ(as_signed32(0x7FFFFFFFu), INT32_MAX);
  EXPECT_EQ(as_signed32(0x80000000u), INT32_MIN);
  EXPECT_EQ(as_signed32(0xFFFFFFFFu), -1);
}
