// Runs the built program against a stand-in server on a loopback port and
// checks the bytes on the wire, the bytes on stdout and the exit status.
//
// Another build of the program, the Windows one, is tested the same way with
// RCON_TEST_PROGRAM naming it, RCON_TEST_LAUNCHER the command that starts it
// (wine) and RCON_TEST_CRLF=1, since it writes each line feed as CR LF.
#include <ctype.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback.h"

extern char** environ;

namespace {

// Test constants: a throw while building them fails the run at start-up.
// NOLINTNEXTLINE(cert-err58-cpp)
const std::string ff = "\xFF\xFF\xFF\xFF";
// NOLINTNEXTLINE(cert-err58-cpp)
const std::string header = ff + "print\n";
const int DEADLINE_MS = 10000;

// Lets \a ms milliseconds pass between two looks at a condition.
void nap_ms(long ms) {
  timespec t = {0, ms * 1000000L};
  nanosleep(&t, nullptr);
}

std::string env(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

std::string program_under_test() {
  std::string path = env("RCON_TEST_PROGRAM");
  return path.empty() ? RCON_SCRIPT_EXE : path;
}

bool windows_build() { return env("RCON_TEST_CRLF") == "1"; }

// Returns \a text as the program under test writes it on stdout.
std::string out(const std::string& text) {
  if (!windows_build()) return text;
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? "\r\n" : std::string(1, c);
  return crlf;
}

// The program under test, behind its launcher if it has one.
std::vector<std::string> command_line(std::vector<std::string> args) {
  args.insert(args.begin(), program_under_test());
  if (!env("RCON_TEST_LAUNCHER").empty())
    args.insert(args.begin(), env("RCON_TEST_LAUNCHER"));
  return args;
}

long now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

// Returns the path of a new file holding \a bytes.
std::string script_file(const std::string& bytes) {
  static int count = 0;
  std::string path = testing::TempDir() + "rcon-e2e-" + std::to_string(getpid()) + "-" +
                     std::to_string(count++) + ".txt";
  FILE* f = fopen(path.c_str(), "wb");
  EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  EXPECT_EQ(fclose(f), 0);
  return path;
}

// Returns the whole text of the file at \a path, or "" if it cannot be read.
std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Returns the peak resident set of \a pid's program so far, in KiB, or 0.
// (ru_maxrss would also count this process's memory from before the exec.)
long vm_hwm_kib(pid_t pid) {
  std::string status = file_text("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : strtol(status.c_str() + at + 6, nullptr, 10);
}

// One run of the program, its stdout and stderr on pipes (or stdout on
// \a out_fd), bounded by DEADLINE_MS.
struct program {
  pid_t pid = -1;
  int out = -1, err = -1;
  std::string stdout_text, stderr_text;
  int status = -1;
  long max_rss_kib = 0;

  // Starts rcon-script with \a args, or with \a whole as the whole command line.
  explicit program(std::vector<std::string> args, int out_fd = -1, bool whole = false) {
    if (!whole) args = command_line(args);
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_fd >= 0 ? out_fd : out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    std::transform(args.begin(), args.end(), std::back_inserter(argv),
                   [](std::string& a) { return &a[0]; });
    argv.push_back(nullptr);
    posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    out = out_pipe[0];
    err = err_pipe[0];
  }

  // Waits for the exit, reading both streams and noting the peak RSS;
  // kills the program at the deadline.
  void finish() {
    long deadline = now_ms() + DEADLINE_MS;
    while ((out >= 0 || err >= 0) && now_ms() < deadline) {
      pollfd p[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
      int ready = poll(p, 2, 5);
      max_rss_kib = std::max(max_rss_kib, vm_hwm_kib(pid));
      if (ready <= 0) continue;
      take(&out, &stdout_text, p[0].revents);
      take(&err, &stderr_text, p[1].revents);
    }
    // The pipes close a moment before the exit can be collected.
    bool exited = false;
    while (!exited && now_ms() < deadline) {
      exited = waitpid(pid, &status, WNOHANG) == pid;
      if (!exited) nap_ms(1);
    }
    if (!exited) {
      ADD_FAILURE() << "still running at the deadline";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
  }

  static void take(int* fd, std::string* text, short revents) {
    if (*fd < 0 || revents == 0) return;
    char buf[4096];
    ssize_t n = read(*fd, buf, sizeof buf);
    if (n > 0) {
      text->append(buf, static_cast<size_t>(n));
      return;
    }
    close(*fd);
    *fd = -1;
  }

  int exit_code() const {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

// Returns every datagram waiting on \a fd.
std::vector<std::string> wire(int fd) {
  std::vector<std::string> seen;
  std::string d;
  while (udp_receive(fd, &d, 0)) seen.push_back(d);
  return seen;
}

std::string command(const std::string& password, const std::string& text) {
  return ff + "rcon \"" + password + "\" " + text + '\0';
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE((server_ = udp_peer_open()).fd, 0); }
  void TearDown() override { udp_peer_close(&server_); }
  std::string endpoint() const { return endpoint_text(server_.addr); }
  udp_peer server_;
};

TEST_F(EndToEnd, ExitsSilentlyOnWrongUsageAndMissingScript) {
  std::string script = script_file("rcon x\necho y\n");
  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {"three arguments", {endpoint(), "pw", "once"}, 1},
      {"five arguments", {endpoint(), "pw", "once", script, "extra"}, 1},
      {"no colon", {"127.0.0.1", "pw", "once", script}, 1},
      {"missing script", {endpoint(), "pw", "once", script + ".missing"}, 0},
  };
  for (const auto& c : cases) {
    program p(c.args);
    p.finish();
    EXPECT_EQ(p.exit_code(), c.status) << c.name;
    EXPECT_EQ(p.stdout_text + p.stderr_text, "") << c.name;
    EXPECT_TRUE(wire(server_.fd).empty()) << c.name;
  }
}

TEST_F(EndToEnd, CarriesOutEachScriptLine) {
  std::string long_rcon = "rcon " + std::string(1019, 'a');  // cut at 1024 characters
  const struct {
    const char* name;
    std::string script;
    std::vector<std::string> wire;
    std::string out;
  } cases[] = {
      {"rcon sends the rest of the line",
       "rcon status\nrcon  two words\nrcon \nrcon 100% %s %n",
       {command("pw", "status"), command("pw", " two words"), command("pw", ""),
        command("pw", "100% %s %n")},
       ""},
      {"echo prints the rest and a line feed",
       "echo hello\necho \necho\n",
       {},
       "hello\n\n"},
      {"not commands", "RCON x\n rcon x\nrcon\tx\nrcon\n# note\n\necho\n", {}, ""},
      {"CR LF line ends", "echo a\r\nrcon b\r\n", {command("pw", "b")}, "a\n"},
      {"lone CR stays", "echo a\rb\n", {}, "a\rb\n"},
      {"0x1A ends the script",
       "echo a\n\x1A"
       "echo b\n",
       {},
       "a\n"},
      {"zero byte ends the line", std::string("echo a\0b\necho c\n", 16), {}, "a\nc\n"},
      {"too long to send, then its tail", long_rcon + "echo tail\n", {}, "tail\n"},
      {"waits that end at once",
       "wait -5\nwait abc\nwait\nwait 0\necho done\n",
       {},
       "done\n"},
      {"binary junk", std::string("\x01\xFE\x00\x7F\xFF\r\r\n\x80", 9), {}, ""},
  };
  for (const auto& c : cases) {
    program p({endpoint(), "pw", "once", script_file(c.script)});
    p.finish();
    EXPECT_EQ(p.exit_code(), 0) << c.name;
    EXPECT_EQ(p.stdout_text, out(c.out)) << c.name;
    EXPECT_EQ(p.stderr_text, "") << c.name;
    EXPECT_EQ(wire(server_.fd), c.wire) << c.name;
  }
}

TEST_F(EndToEnd, PrintsServerRepliesDuringAWaitAndNothingElse) {
  udp_peer other_port = udp_peer_open();
  udp_peer other_addr = udp_peer_open("127.0.0.2");
  program p(
      {endpoint(), "pw", "once", script_file("rcon status\nwait 2\necho after\n")});
  std::string got;
  sockaddr_in client;
  ASSERT_TRUE(udp_receive(server_.fd, &got, DEADLINE_MS, &client));
  EXPECT_EQ(got, command("pw", "status"));
  udp_send(other_port.fd, header + "spoofed\n", client);
  udp_send(other_addr.fd, header + "spoofed\n", client);
  udp_send(server_.fd, header + "map: q\n", client);
  udp_send(server_.fd, ff + "infoResponse\n", client);
  for (size_t len = 1; len <= 9; len++)
    udp_send(server_.fd, header.substr(0, len), client);
  udp_send(server_.fd, header + std::string(1491, 'x'), client);
  udp_send(server_.fd, header + std::string(65497, 'x'), client);
  udp_send(server_.fd, header + "no line feed", client);
  p.finish();
  EXPECT_EQ(p.exit_code(), 0);
  EXPECT_EQ(p.stdout_text, out("map: q\nno line feedafter\n"));
  udp_peer_close(&other_port);
  udp_peer_close(&other_addr);
}

// Appends the lines "echo FROM" to "echo TO-1" and what they print.
void echo_lines(int from, int to, std::string* script, std::string* printed) {
  for (int i = from; i < to; i++) {
    *script += "echo " + std::to_string(i) + "\n";
    *printed += std::to_string(i) + "\n";
  }
}

TEST_F(EndToEnd, JunkFloodNeitherDerailsNorSwellsTheScript) {
  // The pause half-way outlasts the flood, so all of it lands mid-script.
  std::string script = "rcon hi\n", printed;
  echo_lines(0, 10000, &script, &printed);
  script += "wait 2\n";
  echo_lines(10000, 20000, &script, &printed);
  std::string path = script_file(script);
  long quiet_rss = 0;
  for (bool flood : {false, true}) {
    program p({endpoint(), "pw", "once", path});
    std::string got;
    sockaddr_in client;
    ASSERT_TRUE(udp_receive(server_.fd, &got, DEADLINE_MS, &client));
    std::thread flooder([&] {
      for (int i = 0; flood && i < 100000; i++)
        udp_send(server_.fd, i % 2 ? "junk" : ff + "statusResponse\n", client);
    });
    p.finish();
    flooder.join();
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_TRUE(p.stdout_text == out(printed)) << "echo lines lost or out of order";
    EXPECT_GT(p.max_rss_kib, 0);
    if (!flood) quiet_rss = p.max_rss_kib;
    EXPECT_LE(p.max_rss_kib, quiet_rss + 512);
  }
}

// Returns true if the program's 1 MiB receive buffer will be granted here.
bool big_receive_buffer_granted() {
  long rmem_max = strtol(file_text("/proc/sys/net/core/rmem_max").c_str(), nullptr, 10);
  return geteuid() == 0 || rmem_max >= (1 << 20);
}

TEST_F(EndToEnd, BurstDuringAWaitIsPrintedWholeAndInOrder) {
  if (!big_receive_buffer_granted())
    GTEST_SKIP() << "not root and net.core.rmem_max < 1 MiB: the burst may overflow";
  program p({endpoint(), "pw", "once", script_file("rcon ready\nwait 2\n")});
  std::string got, printed;
  sockaddr_in client;
  ASSERT_TRUE(udp_receive(server_.fd, &got, DEADLINE_MS, &client));
  for (int i = 0; i < 1000; i++) {
    char text[128];
    ASSERT_EQ(
        snprintf(text, sizeof text, "reply %04d %s\n", i, std::string(88, '.').c_str()),
        100);
    udp_send(server_.fd, header + text, client);
    printed += text;
  }
  p.finish();
  EXPECT_EQ(p.exit_code(), 0);
  EXPECT_TRUE(p.stdout_text == out(printed))
      << p.stdout_text.size() << " of " << out(printed).size();
}

// Sends \a sig \a count times during a long wait and checks the orderly stop.
void expect_orderly_stop(const udp_peer& server, int sig, int count) {
  program p({endpoint_text(server.addr), "pw", "once",
             script_file("echo before\nrcon sync\nwait 30\necho after\nrcon after\n")});
  std::string got;
  ASSERT_TRUE(udp_receive(server.fd, &got, DEADLINE_MS)) << strsignal(sig);
  for (int i = 0; i < count; i++) kill(p.pid, sig);
  p.finish();
  EXPECT_EQ(p.exit_code(), 0) << strsignal(sig);
  EXPECT_EQ(p.stdout_text, out("before\n")) << strsignal(sig);
  EXPECT_TRUE(wire(server.fd).empty()) << strsignal(sig);
}

TEST_F(EndToEnd, InterruptEndsAWaitAndFlushesOutput) {
  expect_orderly_stop(server_, SIGINT, 2);  // a second one is caught as well
  expect_orderly_stop(server_, SIGINT, 1000);
}

TEST_F(EndToEnd, TerminationAndAbortStopInOrderToo) {
  if (windows_build())
    GTEST_SKIP() << "Windows has no way to send SIGTERM or SIGABRT to another "
                    "process; wine ends the process itself on them";
  expect_orderly_stop(server_, SIGTERM, 2);
  expect_orderly_stop(server_, SIGABRT, 2);
}

TEST_F(EndToEnd, LoopModeRunsUntilStopped) {
  // Ticks show the passes (and that the stop handler is in place); once the
  // script is gone or empty, passes find nothing and follow each other at
  // once until the stop.
  for (bool remove_it : {true, false}) {
    std::string script = script_file("rcon tick\n");
    program p({endpoint(), "pw", "loop", script});
    std::string got;
    for (int i = 0; i < 3; i++) {
      ASSERT_TRUE(udp_receive(server_.fd, &got, DEADLINE_MS));
      EXPECT_EQ(got, command("pw", "tick"));
    }
    EXPECT_EQ(remove_it ? remove(script.c_str()) : truncate(script.c_str(), 0), 0);
    for (long end = now_ms() + DEADLINE_MS; now_ms() < end;)
      if (!udp_receive(server_.fd, &got, 200)) break;  // the ticks have stopped
    kill(p.pid, SIGINT);
    p.finish();
    EXPECT_EQ(p.exit_code(), 0) << (remove_it ? "missing script" : "empty script");
    EXPECT_EQ(p.stdout_text, "");
  }
}

// Returns \a screen without terminal control sequences (ESC [ ... letter):
// wine's console moves the cursor around every character it writes.
std::string without_escapes(const std::string& screen) {
  std::string text;
  for (size_t i = 0; i < screen.size(); i++) {
    if (screen[i] != '\033' || i + 1 >= screen.size() || screen[i + 1] != '[') {
      text += screen[i];
      continue;
    }
    for (i += 2; i < screen.size() && !isalpha(static_cast<unsigned char>(screen[i]));
         i++) {
    }
  }
  return text;
}

TEST_F(EndToEnd, TerminalSeesEachPrintAtOnce) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  program p({endpoint(), "pw", "once", script_file("echo shown\nwait 30\n")}, slave);
  close(slave);
  std::string screen;
  for (long end = now_ms() + DEADLINE_MS;
       without_escapes(screen).find("shown") == std::string::npos && now_ms() < end;) {
    char buf[256];
    if (!wait_readable(master, 100)) continue;
    ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) screen.append(buf, static_cast<size_t>(n));
  }
  EXPECT_NE(without_escapes(screen).find("shown"), std::string::npos) << screen;
  kill(p.pid, SIGINT);
  p.finish();
  EXPECT_EQ(p.exit_code(), 0);
  close(master);
}

TEST(DemoServer, AnswersTheProgramItRuns) {
  const struct {
    const char* password;
    std::vector<std::string> expect;
  } cases[] = {
      {"secret",
       {"map: dm_lighthouse\n", "Unknown command \"hello there\"\n",
        "sv_setting_047 \"29\"\n48 total cvars\n"}},
      {"wrong", {"Bad rcon password.\n"}},
  };
  std::string script =
      script_file("rcon status\nrcon hello there\nrcon cvarlist\nwait 2\n");
  for (const auto& c : cases) {
    udp_peer probe = udp_peer_open();  // a free port for the server
    std::string port = std::to_string(ntohs(probe.addr.sin_port));
    udp_peer_close(&probe);
    std::vector<std::string> args =
        command_line({"127.0.0.1:" + port, c.password, "once", script});
    args.insert(args.begin(), {DEMO_SERVER_EXE, port, "secret", "--"});
    program p(args, -1, true);
    p.finish();
    EXPECT_EQ(p.exit_code(), 0) << c.password;
    for (const auto& e : c.expect)
      EXPECT_NE(p.stdout_text.find(out(e)), std::string::npos) << p.stdout_text;
  }
}

}  // namespace
