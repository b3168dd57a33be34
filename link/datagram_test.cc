#include "link/datagram.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

// Returns the command datagram for \a command, or "" when it does not fit.
static std::string datagram(const std::string& password, const std::string& command) {
  char out[RCON_SEND_MAX];
  size_t len = build_command_datagram(out, password.c_str(), command.c_str());
  return std::string(out, len);
}

// Nothing is escaped or formatted: a quote or a "%s" goes out as it stands.
// With a password of P bytes, a command of 1011 - P bytes fills 1024 bytes;
// a byte more, and nothing is sent.
TEST(CommandDatagram, CarriesBothAsTheyStandWholeOrNotAtAll) {
  EXPECT_EQ(datagram("p\"%s", " say %n"), "\xFF\xFF\xFF\xFFrcon \"p\"%s\"  say %n\0"s);
  std::string password(6, 'p');
  EXPECT_EQ(datagram(password, std::string(1005, 'x')).size(), 1024u);
  EXPECT_EQ(datagram(password, std::string(1006, 'x')), "");
}
