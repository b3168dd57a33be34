#include "link/rcon_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/loopback.h"

namespace {

// Test constants: a throw while building them fails the run at start-up.
// NOLINTNEXTLINE(cert-err58-cpp)
const std::string header = "\xFF\xFF\xFF\xFFprint\n";

TEST(RconOpen, ReadsAddressAndPortWithoutLookingUpNames) {
  const struct {
    const char* endpoint;
    int ok;
    uint32_t addr;  // host byte order
    uint16_t port;
  } cases[] = {
      {"127.0.0.1:27960", 1, 0x7F000001, 27960},
      {"localhost:27960", 1, INADDR_NONE, 27960},
      {":27960", 1, INADDR_NONE, 27960},
      {"127.0.0.1:65537", 1, 0x7F000001, 1},
      {"127.0.0.1:-1", 1, 0x7F000001, 65535},
      {"127.0.0.1:http", 1, 0x7F000001, 0},
      {"127.0.0.1:80:90", 1, 0x7F000001, 80},
      {"127.0.0.1", 0, 0, 0},
  };
  for (const auto& c : cases) {
    char endpoint[64];
    ASSERT_LT(snprintf(endpoint, sizeof endpoint, "%s", c.endpoint), 64);
    rcon_link link;
    ASSERT_EQ(rcon_open(&link, endpoint, "pw"), c.ok) << c.endpoint;
    if (!c.ok) continue;
    EXPECT_EQ(link.server_addr.sin_family, AF_INET);
    EXPECT_EQ(ntohl(link.server_addr.sin_addr.s_addr), c.addr) << c.endpoint;
    EXPECT_EQ(ntohs(link.server_addr.sin_port), c.port) << c.endpoint;
    EXPECT_STREQ(link.password, "pw");
    EXPECT_EQ(strlen(endpoint), strcspn(c.endpoint, ":"));  // colon overwritten
    rcon_close(link.sock);
  }
}

// A link to a loopback server that has heard from it once, so the server
// and its impostors know where to send.
class RconPoll : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = udp_peer_open();
    ASSERT_GE(server_.fd, 0);
    std::string endpoint = endpoint_text(server_.addr);
    ASSERT_EQ(rcon_open(&link_, &endpoint[0], "pw"), 1);
    EXPECT_EQ(rcon_poll(&link_), 0);  // nothing waits before the first send
    rcon_send(&link_, "hello");
    std::string hello;
    ASSERT_TRUE(udp_receive(server_.fd, &hello, 2000, &client_));
  }
  void TearDown() override {
    rcon_close(link_.sock);
    udp_peer_close(&server_);
  }

  // Sends \a bytes from \a from; returns what one poll prints, and its result in \a
  // got.
  std::string poll_after(const udp_peer& from, const std::string& bytes, int* got) {
    udp_send(from.fd, bytes, client_);
    EXPECT_TRUE(wait_readable(link_.sock, 2000));
    testing::internal::CaptureStdout();
    *got = rcon_poll(&link_);
    return testing::internal::GetCapturedStdout();
  }

  udp_peer server_;
  rcon_link link_;
  sockaddr_in client_;
};

TEST_F(RconPoll, PrintsOnlyRepliesFromTheServerUpToTheirZeroByte) {
  udp_peer other_port = udp_peer_open();
  udp_peer other_addr = udp_peer_open("127.0.0.2");
  const struct {
    const char* name;
    const udp_peer& from;
    std::string bytes;
    std::string printed;
    int result;
  } cases[] = {
      {"reply", server_, header + "Hello, admin!\n", "Hello, admin!\n", 14},
      {"reply from another port", other_port, header + "Hello, admin!\n", "", 14},
      {"reply from another address", other_addr, header + "spoofed\n", "", 8},
      {"reply with no text", server_, header, "", 0},
      {"other kind", server_, "\xFF\xFF\xFF\xFFstatusResponse\n", "", 19},
      {"short datagram", server_, "\xFF\xFF\xFF\xFFp", "", 5},
      {"zero byte in the text", server_, header + std::string("ab\0cd", 5), "ab", 5},
      {"1500 bytes", server_, header + std::string(1490, 'x'), std::string(1490, 'x'),
       1490},
      {"1501 bytes", server_, header + std::string(1491, 'x'), "", 0},
      {"65507 bytes", server_, header + std::string(65497, 'x'), "", 0},
      {"empty datagram", server_, "", "", 0},
  };
  ASSERT_GE(other_addr.fd, 0);
  for (const auto& c : cases) {
    int got = -1;
    EXPECT_EQ(poll_after(c.from, c.bytes, &got), c.printed) << c.name;
    EXPECT_EQ(got, c.result) << c.name;
  }
  EXPECT_EQ(rcon_poll(&link_), 0);
  udp_peer_close(&other_port);
  udp_peer_close(&other_addr);
}

TEST_F(RconPoll, DrainGoesPastIgnoredDatagramsAndStopsAtAnEmptyReply) {
  udp_peer other_port = udp_peer_open();
  udp_send(server_.fd, "junk", client_);
  udp_send(other_port.fd, header + "spoofed\n", client_);
  udp_send(server_.fd, header + "one\n", client_);
  udp_send(server_.fd, header, client_);
  udp_send(server_.fd, header + "two\n", client_);
  ASSERT_TRUE(wait_readable(link_.sock, 2000));
  testing::internal::CaptureStdout();
  rcon_drain(&link_);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "one\n");
  testing::internal::CaptureStdout();
  rcon_drain(&link_);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "two\n");
  udp_peer_close(&other_port);
}

TEST_F(RconPoll, DrainStopsAtItsLimitAndTheNextTakesTheRest) {
  for (int i = 0; i < 4; i++) udp_send(server_.fd, "junk", client_);
  udp_send(server_.fd, header + "late\n", client_);
  ASSERT_TRUE(wait_readable(link_.sock, 2000));
  EXPECT_EQ(rcon_drain_up_to(&link_, 3), 3);
  EXPECT_TRUE(wait_readable(link_.sock, 0));
  testing::internal::CaptureStdout();
  rcon_drain(&link_);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "late\n");
}

}  // namespace
