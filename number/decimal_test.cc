#include "number/decimal.h"

#include <gtest/gtest.h>

TEST(Decimal, ReadsAsAtoiDoesAndWrapsAt32Bits) {
  const struct {
    const char* text;
    uint32_t wrapped;
    uint16_t port;
  } rows[] = {
      {"27960", 27960, 27960},
      {" \t+27960:1", 27960, 27960},
      {"65535", 65535, 65535},
      {"65536", 65536, 0},
      {"4294995256", 27960, 0},  // 2^32 + 27960
      {"99999999999", 1215752191, 0},
      {"-1", 4294967295u, 0},
      {"0", 0, 0},
      {"x", 0, 0},
      {"- 1", 0, 0},
      {"", 0, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(parse_decimal_wrapped(row.text), row.wrapped) << row.text;
    EXPECT_EQ(parse_port(row.text), row.port) << row.text;
  }
  EXPECT_EQ(as_signed32(4294967295u), -1);
  EXPECT_EQ(as_signed32(2147483648u), INT32_MIN);
  EXPECT_EQ(as_signed32(2147483647u), INT32_MAX);
}
