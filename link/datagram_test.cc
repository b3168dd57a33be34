#include "link/datagram.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Test constants: a throw while building them fails the run at start-up.
// NOLINTNEXTLINE(cert-err58-cpp)
const std::string ff = "\xFF\xFF\xFF\xFF";

std::string build(const std::string& password, const std::string& command) {
  char out[RCON_SEND_MAX];
  size_t len = build_command_datagram(out, password.c_str(), command.c_str());
  return std::string(out, len);
}

TEST(CommandDatagram, CarriesPasswordAndCommandByteForByte) {
  const struct {
    std::string password, command, wire;
  } cases[] = {
      {"secret", "status", ff + "rcon \"secret\" status" + '\0'},
      {"secret", "", ff + "rcon \"secret\" " + '\0'},
      {"secret", " kick all", ff + "rcon \"secret\"  kick all" + '\0'},
      {"secret", "say 100% %s %n", ff + "rcon \"secret\" say 100% %s %n" + '\0'},
      {"pa\"ss%d", "x", ff + "rcon \"pa\"ss%d\" x" + '\0'},
      {"", "status", ff + "rcon \"\" status" + '\0'},
  };
  for (const auto& c : cases) EXPECT_EQ(build(c.password, c.command), c.wire);
  EXPECT_EQ(build("secret", "status").size(), 25u);
}

TEST(CommandDatagram, IsSentWholeUpTo1024BytesOrNotAtAll) {
  const struct {
    size_t password, command, wire;
  } cases[] = {
      {6, 1005, 1024},  // 1011 - P characters fill the datagram exactly
      {6, 1006, 0},    {1011, 0, 1024},
      {1012, 0, 0},  // no command can ever go out with such a password
      {2000, 5, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(build(std::string(c.password, 'p'), std::string(c.command, 'c')).size(),
              c.wire)
        << c.password << " + " << c.command;
}

}  // namespace
