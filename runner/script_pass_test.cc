// One pass over a script file, in-process, against a stand-in server on a
// loopback port. The server has learnt the link's address from a first
// command, so what anyone sends before the pass is waiting on the link's
// socket when a drain looks: every result is exact, and nothing waits on the
// clock. Prints are captured.
#include "runner/script_pass.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "output/output.h"
#include "runner/stop_signal.h"
#include "tests/loopback.h"

using namespace std::string_literals;

class ScriptPass : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net_start());
    server = udp_peer_open();
    std::string endpoint = "127.0.0.1:" + std::to_string(ntohs(server.addr.sin_port));
    ASSERT_TRUE(rcon_open(&link, endpoint.c_str(), "pw"));
    rcon_send(&link, "hello");  // the system picks the link's port now
    std::string hello;
    ASSERT_TRUE(udp_receive(server, &hello, 1000, &client));
    testing::internal::CaptureStdout();
    capturing = true;
    output_to(1);
  }

  void TearDown() override {
    if (capturing) printed();
    rcon_close(link.sock);
    socket_shutdown_close(server.sock);
    net_stop();
  }

  // Runs one pass over a script file that holds \a script. Returns what
  // run_pass() returns, and puts how many seconds it took in took.
  int run(const std::string& script) {
    std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    path = testing::TempDir() + "rcon-pass-" + name;
    std::ofstream(path, std::ios::binary) << script;
    auto start = std::chrono::steady_clock::now();
    int error = run_pass(&link, path.c_str());
    took = seconds_since(start);
    return error;
  }

  static double seconds_since(std::chrono::steady_clock::time_point start) {
    std::chrono::duration<double> since = std::chrono::steady_clock::now() - start;
    return since.count();
  }

  // Returns what has been printed, once all that is held is written out.
  std::string printed() {
    capturing = false;
    EXPECT_EQ(output_exit_status(), 0);
    return testing::internal::GetCapturedStdout();
  }

  // Returns the datagrams that the server received after the first.
  std::vector<std::string> received() {
    std::vector<std::string> datagrams;
    std::string datagram;
    while (udp_receive(server, &datagram, 0)) datagrams.push_back(datagram);
    return datagrams;
  }

  udp_peer server;
  rcon_link link;
  sockaddr_in client;
  std::string path;
  double took = 0;
  bool capturing = false;
};

// A drain follows every line, whatever the line. It prints the text of the
// server's own replies, up to a zero byte, and takes all else silently; an
// empty datagram, a reply with no text or one too long to take ends it.
TEST_F(ScriptPass, DrainsAfterEveryLine) {
  udp_peer other_port = udp_peer_open();
  udp_peer other_address = udp_peer_open("127.0.0.2");
  std::string x1490(1490, 'x');
  udp_send(server, reply_datagram("1\n"), client);
  udp_send(other_port, reply_datagram("port\n"), client);
  udp_send(other_address, reply_datagram("address\n"), client);
  for (std::string junk :
       {"\xFF\xFF\xFF\xFFinfoResponse\n", "\xFF", "\xFF\xFF\xFF\xFFprint"}) {
    udp_send(server, junk, client);
  }
  udp_send(server, reply_datagram("%s%n a\0b\n"s), client);
  udp_send(server, reply_datagram(x1490), client);
  udp_send(server, "", client);
  udp_send(server, reply_datagram("2 no line feed"), client);
  udp_send(server, reply_datagram(""), client);
  udp_send(server, reply_datagram("3\n"), client);
  udp_send(server, reply_datagram(x1490 + "x"), client);  // 1501 bytes
  udp_send(server, reply_datagram("4\n"), client);
  run("# note\n\nwait\necho -\nwait 0\n");
  EXPECT_EQ(printed(), "1\n%s%n a" + x1490 + "2 no line feed3\n-\n4\n");
  socket_shutdown_close(other_port.sock);
  socket_shutdown_close(other_address.sock);
}

// Only the exact keyword at the very start of a line makes a command; its
// argument is the rest of the line as it stands, up to a zero byte.
TEST_F(ScriptPass, CarriesOutCommandsAsTheyStand) {
  run("rcon status\nrcon  two words\nrcon \nrcon %s%n\nRCON x\n rcon x\nrcon\tx\n"
      "rcon\necho\nEcho x\necho hi\necho \necho %s%n\necho a\0b\n"s);
  EXPECT_EQ(printed(), "hi\n\n%s%n\na\n");
  std::vector<std::string> sent = {command("status"), command(" two words"),
                                   command(""), command("%s%n")};
  EXPECT_EQ(received(), sent);
}

TEST_F(ScriptPass, WaitsThatEndAtOnce) {
  run("wait -5\nwait x\nwait 0\nwait 4294967296\nwait 2147483647\n");
  EXPECT_LT(took, 0.5);  // the first pause of a wait that waits is half a second
}

// A wait counts whole seconds of the calendar clock: "wait 2" lasts from one
// to two seconds and a half.
TEST_F(ScriptPass, WaitCountsWholeSecondsOfTheClock) {
  run("wait 2\n");
  EXPECT_GT(took, 1.0);
  EXPECT_LT(took, 3.0);
}

// The script is closed at the end of every pass: the descriptor that the
// next open takes is the same after three passes, one over a script that
// cannot be opened.
TEST_F(ScriptPass, LeavesNoDescriptorOpen) {
  run("rcon a\n");
  int before = script_file_open(path.c_str());
  script_file_close(before);
  run("rcon a\n");
  run_pass(&link, "no such script");
  int after = script_file_open(path.c_str());
  script_file_close(after);
  EXPECT_EQ(after, before);
}

// The part of a line past its 1024th character is never a command.
TEST_F(ScriptPass, TheRestOfALongLineIsNeverACommand) {
  run("echo " + std::string(1019, 'x') + "rcon quit\nrcon b\n");
  EXPECT_EQ(printed(), std::string(1019, 'x') + "\n");
  EXPECT_EQ(received(), std::vector<std::string>{command("b")});
}

// A pass over a script that cannot be read says why; an empty script can.
TEST_F(ScriptPass, SaysWhyAScriptCannotBeRead) {
  EXPECT_EQ(run_pass(&link, "no such script"), ENOENT);
  EXPECT_NE(run_pass(&link, testing::TempDir().c_str()), 0);  // a folder
  EXPECT_EQ(run(""), 0);
}

// In loop mode the next pass starts half a second after the last began, and
// replies are printed meanwhile; at once after a pass that took longer, or
// after a stop.
TEST_F(ScriptPass, PacesPassesHalfASecondApart) {
  udp_send(server, reply_datagram("1\n"), client);
  long long start = monotonic_ms();
  pace_passes(&link, start);
  EXPECT_GE(monotonic_ms() - start, 450);  // the clock may be a tick short on Windows
  EXPECT_LT(monotonic_ms() - start, 1000);
  start = monotonic_ms();
  pace_passes(&link, start - 500);
  stop_requested = 1;
  pace_passes(&link, start);
  stop_requested = 0;
  EXPECT_LT(monotonic_ms() - start, 500);
  EXPECT_EQ(printed(), "1\n");
}
