#include "link/rcon_link.h"

#include <gtest/gtest.h>

#include <string>

// An endpoint that cannot be used fails the set-up: a typo, or a form that
// another reader of addresses takes for some other host, must not send the
// password anywhere. One that can is read without name lookup.
TEST(RconOpen, TakesOnlyAPlainAddressAndAPort) {
  const struct {
    const char* endpoint;
    const char* address;  // as it is then stored, or nullptr for a failure
    int port;
  } rows[] = {
      {"127.0.0.1:27960", "127.0.0.1", 27960},
      {"127.0.0.2:1", "127.0.0.2", 1},
      {"10.0.0.255:65535", "10.0.0.255", 65535},
      {"192.0.2.7: +27960\r\n", "192.0.2.7", 27960},
      {"127.0.0.1", nullptr, 0},
      {"localhost:27960", nullptr, 0},
      {":27960", nullptr, 0},
      {"0.0.0.0:27960", nullptr, 0},  // no host's address
      {"255.255.255.255:27960", nullptr, 0},
      {"256.0.0.1:27960", nullptr, 0},
      {"127.0.0.010:27960", nullptr, 0},  // octal: 127.0.0.8
      {"127.1:27960", nullptr, 0},        // a short form of 127.0.0.1
      {"127.0.0.1 x:27960", nullptr, 0},
      {"127.0.0.1:2796O", nullptr, 0},
      {"127.0.0.1:+ 27960", nullptr, 0},
      {"127.0.0.1:0", nullptr, 0},
      {"127.0.0.1:65537", nullptr, 0},       // would wrap to port 1
      {"127.0.0.1:4294995256", nullptr, 0},  // 2^32 + 27960
  };
  ASSERT_TRUE(net_start());
  for (const auto& row : rows) {
    rcon_link link;
    ASSERT_EQ(rcon_open(&link, row.endpoint), row.address != nullptr) << row.endpoint;
    if (row.address == nullptr) continue;
    EXPECT_EQ(inet_ntoa(link.server_addr.sin_addr), std::string(row.address));
    EXPECT_EQ(ntohs(link.server_addr.sin_port), row.port);
    rcon_close(link.sock);
  }
  net_stop();
}
