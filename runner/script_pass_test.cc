// One pass over a script file, in-process, against a stand-in server on a
// loopback port. The server has learnt the link's address from a first
// command, so what it sends before the pass is waiting on the link's socket
// when a drain looks, and what each drain prints is exact. Only the tests of
// waits and of a refusal wait on the clock. A burst of replies is the
// benchmark's to send.
#include "runner/script_pass.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "output/output.h"
#include "runner/script_reader.h"
#include "tests/loopback.h"

using namespace std::string_literals;

class ScriptPass : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net_start());
    server = udp_peer_open();
    rcon_keep_password(&link, "pw");
    ASSERT_TRUE(rcon_open(&link, endpoint_of(server).c_str()));
    rcon_send(&link, "hello");  // the server learns the link's address
    std::string hello;
    ASSERT_TRUE(udp_receive(server, &hello, 1000, &client));
  }

  void TearDown() override {
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

  // Returns what one pass over \a script prints on standard output.
  std::string printed_by(const std::string& script) {
    testing::internal::CaptureStdout();
    output_to(1);
    run(script);
    EXPECT_EQ(output_exit_status(), 0);
    return testing::internal::GetCapturedStdout();
  }

  // Returns the command datagrams that the server has received.
  std::vector<std::string> received() {
    std::vector<std::string> sent;
    std::string datagram;
    while (udp_receive(server, &datagram, 0)) sent.push_back(datagram);
    return sent;
  }

  udp_peer server;
  rcon_link link;
  sockaddr_in client;
  std::string path;
};

// A drain follows every line, whatever the line. Each row queues the
// server's datagrams, and then its reply "1", before a pass over a note and
// an echo; the drain after the note takes them, or ends early and leaves the
// rest to the drain after the echo. Nobody else's datagram reaches the
// link's socket, which is tied to the server.
TEST_F(ScriptPass, DrainsAfterEveryLine) {
  const struct {
    const char* rule;
    std::vector<std::string> datagrams;
    std::string printed;
  } rows[] = {
      {"a reply is printed up to its zero byte, as it stands",
       {reply_datagram("%s%n a\0b\n"s)},
       "%s%n a1-\n"},
      {"the server's datagrams of other kinds are skipped",
       {"\xFF\xFF\xFF\xFFinfoResponse\n", "\xFF", "\xFF\xFF\xFF\xFFprint"},
       "1-\n"},
      {"the server's empty datagram ends the drain", {""}, "-\n1"},
      {"the server's reply with no text ends the drain", {reply_datagram("")}, "-\n1"},
  };
  for (const auto& row : rows) {
    for (const std::string& datagram : row.datagrams)
      udp_send(server, datagram, client);
    udp_send(server, reply_datagram("1"), client);
    EXPECT_EQ(printed_by("# note\necho -\n"), row.printed) << row.rule;
  }
}

// A reply too long to print is said on standard error, and ends the drain:
// the next prints what follows it. The first is said at once, the rest once
// a minute has passed or at the end, as are datagrams that the system
// dropped.
TEST_F(ScriptPass, SaysThatAReplyWasTooLong) {
  for (int i = 0; i < 2; i++) udp_send(server, std::string(1501, 'x'), client);
  udp_send(server, reply_datagram("short\n"), client);
  testing::internal::CaptureStderr();
  EXPECT_EQ(printed_by("# a\n# b\n# c\n"), "short\n");
  rcon_say_losses(&link, 1);
  std::string said =
      "rcon-script: a reply of more than 1500 bytes from the server was too "
      "long to print (at most 1490 characters)\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), said + said);
  EXPECT_EQ(link.lost, 1);
}

// Only the exact keyword at the very start of a line makes a command; its
// argument is the rest of the line as it stands, up to a zero byte.
TEST_F(ScriptPass, CarriesOutCommandsAsTheyStand) {
  std::string printed = printed_by(
      "rcon status\nrcon  two words\nrcon \nrcon %s%n\nRCON x\n rcon x\nrcon\tx\n"
      "rcon\necho\nEcho x\necho hi\necho \necho %s%n\necho a\0b\n"s);
  EXPECT_EQ(printed, "hi\n\n%s%n\na\n");
  std::vector<std::string> expected = {command("status"), command(" two words"),
                                       command(""), command("%s%n")};
  EXPECT_EQ(received(), expected);
}

#ifndef _WIN32
// A port where nothing listens refuses each command, and the system hands
// the refusal back to the next receive or send: it is said once, until the
// server's datagram comes again. A send that the refusal fails goes out on
// a second try. Windows hands refusals over too; wine never does.
TEST_F(ScriptPass, SaysThatTheServersPortRefused) {
  int port = ntohs(server.addr.sin_port);
  socket_shutdown_close(server.sock);
  volatile sig_atomic_t no_stop = 0;
  auto refused = [&](const char* text) {
    rcon_send(&link, text);
    EXPECT_EQ(wait_for(-1, link.sock, 1000, &no_stop), WAIT_REPLIES);
  };
  testing::internal::CaptureStderr();
  refused("a");
  server = udp_peer_open("127.0.0.1", port);
  rcon_send(&link, "b");
  EXPECT_EQ(received(), std::vector<std::string>{command("b")});
  udp_send(server, reply_datagram(""), client);
  rcon_drain(&link);
  socket_shutdown_close(server.sock);
  refused("c");
  rcon_drain(&link);
  refused("d");
  rcon_drain(&link);
  std::string said = "rcon-script: " + endpoint_of(server) +
                     " refused the command: Connection refused (is the server running "
                     "on that port?)\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), said + said);
  EXPECT_EQ(link.lost, 1);
  server = udp_peer_open("127.0.0.1", port);  // for TearDown()
}
#endif

#ifdef __linux__
// What the system drops for a full receive buffer is said on standard error,
// after the drain that took what it kept. Only Linux counts it.
TEST_F(ScriptPass, SaysWhatTheSystemDropped) {
  socket_ask_receive_buffer(link.sock, 4096);
  for (int i = 0; i < 100; i++) udp_send(server, reply_datagram("x\n"), client);
  testing::internal::CaptureStderr();
  size_t dropped = 100 - printed_by("# note\n").size() / 2;
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "rcon-script: " + std::to_string(dropped) +
                " datagrams dropped: the receive buffer was full; some may have been "
                "the server's replies\n");
  EXPECT_EQ(link.lost, 1);
}
#endif

// A wait's seconds are read as atol() reads them, in 32 bits, and pass on a
// clock that only moves forward, whatever is done to the time of day:
// "wait 4294967297" lasts a second. Those that are no positive number end at
// once.
TEST_F(ScriptPass, WaitsForElapsedTime) {
  auto start = std::chrono::steady_clock::now();
  run("wait -5\nwait x\nwait \nwait - 1\nwait 0\nwait 4294967297 seconds\n");
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(took.count(), 0.95);
  EXPECT_LT(took.count(), 1.5);
}

// A pass over a script that cannot be read says why; an empty script can be
// read, a UTF-16 one cannot. Every pass closes the script: the descriptor
// that the next open takes is the same after them.
TEST_F(ScriptPass, SaysWhyAScriptCannotBeReadAndClosesIt) {
  EXPECT_EQ(run(""), 0);
  int before = script_file_open(path.c_str());
  script_file_close(before);
  EXPECT_NE(run_pass(&link, testing::TempDir().c_str()), 0);  // a folder
  EXPECT_STREQ(script_error_text(run("\xFF\xFEr\0c\0"s)),
               "UTF-16 text (save it as UTF-8 or ANSI)");
  run("rcon a\n");
  int after = script_file_open(path.c_str());
  script_file_close(after);
  EXPECT_EQ(after, before);
}
