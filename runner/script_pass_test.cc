// One pass over a script file, in-process, against a stand-in server on a
// loopback port. The server has learnt the link's address from a first
// command, so what anyone sends before the pass is waiting on the link's
// socket when a drain looks, and what each drain prints is exact. Prints
// are captured. Only the tests of waits and of the pause between passes
// wait on the clock.
#include "runner/script_pass.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "output/output.h"
#include "tests/loopback.h"

using namespace std::string_literals;

class ScriptPass : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net_start());
    server = udp_peer_open();
    char password[] = "pw";
    rcon_keep_password(&link, password);
    ASSERT_TRUE(rcon_open(&link, endpoint_of(server).c_str()));
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
  // run_pass() returns.
  int run(const std::string& script) {
    std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    path = testing::TempDir() + "rcon-pass-" + name;
    std::ofstream(path, std::ios::binary) << script;
    return run_pass(&link, path.c_str());
  }

  // Returns what has been printed, once all that is held is written out.
  std::string printed() {
    capturing = false;
    EXPECT_EQ(output_exit_status(), 0);
    return testing::internal::GetCapturedStdout();
  }

  udp_peer server;
  rcon_link link;
  sockaddr_in client;
  std::string path;
  bool capturing = false;
};

// A drain follows every line, whatever the line. It prints the text of the
// server's own replies, up to a zero byte, and skips anything else that the
// server sends; its empty datagram, a reply with no text or one too long to
// take ends the drain. Strangers, on another port of the server's address
// or on the server's port of another address, are skipped whatever they
// send, and end no drain.
TEST_F(ScriptPass, DrainsAfterEveryLine) {
  udp_peer other_port = udp_peer_open();
  udp_peer other_address = udp_peer_open("127.0.0.2", ntohs(server.addr.sin_port));
  std::string x1490(1490, 'x');
  for (const udp_peer& stranger : {other_port, other_address}) {
    for (const std::string& datagram : {reply_datagram("stranger\n"), ""s,
                                        reply_datagram(""), std::string(2000, 'x')}) {
      udp_send(stranger, datagram, client);
    }
  }
  udp_send(server, reply_datagram("1\n"), client);
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
  std::vector<std::string> sent;
  std::string datagram;
  while (udp_receive(server, &datagram, 0)) sent.push_back(datagram);
  std::vector<std::string> expected = {command("status"), command(" two words"),
                                       command(""), command("%s%n")};
  EXPECT_EQ(sent, expected);
}

// A wait's seconds are read as atol() reads them. Those that are no
// positive number end at once; "wait +1 second" lasts half a second or a
// whole one, as the clock's seconds fall.
TEST_F(ScriptPass, WaitsForWholeSecondsOfTheClock) {
  auto start = std::chrono::steady_clock::now();
  run("wait -5\nwait x\nwait \nwait - 1\nwait 0\nwait +1 second\n");
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(took.count(), 0.4);
  EXPECT_LT(took.count(), 1.5);
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

// A pass over a script that cannot be read says why; an empty script can.
TEST_F(ScriptPass, SaysWhyAScriptCannotBeRead) {
  EXPECT_EQ(run_pass(&link, "no such script"), ENOENT);
  EXPECT_NE(run_pass(&link, testing::TempDir().c_str()), 0);  // a folder
  EXPECT_EQ(run(""), 0);
}

// In loop mode the next pass starts half a second after the last began, and
// replies are printed meanwhile.
TEST_F(ScriptPass, PacesPassesHalfASecondApart) {
  udp_send(server, reply_datagram("1\n"), client);
  long long start = monotonic_ms();
  pace_passes(&link, start);
  EXPECT_GE(monotonic_ms() - start, 450);  // the clock may be a tick short on Windows
  EXPECT_LT(monotonic_ms() - start, 1000);
  EXPECT_EQ(printed(), "1\n");
}
