#include "link/rcon_link.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

// An endpoint that cannot be used fails the set-up; one that can is read
// without name lookup, and left as it was given.
TEST(RconOpen, TakesOnlyADottedAddressAndAPort) {
  const struct {
    const char* endpoint;
    const char* address;  // as it is then stored, or nullptr for a failure
    int port;
  } rows[] = {
      {"127.0.0.1:27960", "127.0.0.1", 27960},
      {"192.0.2.7: \t+27960:1", "192.0.2.7", 27960},
      {"127.0.0.1", nullptr, 0},
      {"localhost:27960", nullptr, 0},
      {":27960", nullptr, 0},
      {"255.255.255.255:27960", nullptr, 0},
      {"127.0.0.1:93496", nullptr, 0},
      {"127.0.0.1:x", nullptr, 0},
  };
  ASSERT_TRUE(net_start());
  for (const auto& row : rows) {
    std::string endpoint = row.endpoint;
    rcon_link link;
    memset(&link, 0xFF, sizeof link);  // so that what is left unset shows
    ASSERT_EQ(rcon_open(&link, endpoint.c_str(), "pw"), row.address != nullptr)
        << endpoint;
    EXPECT_EQ(endpoint, row.endpoint);
    if (row.address == nullptr) continue;
    EXPECT_EQ(inet_ntoa(link.server_addr.sin_addr), std::string(row.address));
    EXPECT_EQ(ntohs(link.server_addr.sin_port), row.port);
    static const char zeros[sizeof link.server_addr.sin_zero] = {};
    EXPECT_EQ(memcmp(link.server_addr.sin_zero, zeros, sizeof zeros), 0);
    rcon_close(link.sock);
  }
  net_stop();
}
