// The program as its users meet it, one row a behaviour: the command line
// (with the shell's redirections), the script, what the stand-in server on a
// loopback port and the user do while it runs, and what comes out: the
// datagrams, stdout, stderr and the exit status.
//
// The Windows build runs the same rows under wine: RCON_TEST_PROGRAM names
// it, RCON_TEST_LAUNCHER the command that starts it, RCON_TEST_CRLF=1 says
// that it writes each line feed as CR LF.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <math.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback.h"

namespace {

using namespace std::string_literals;

// What the server or the user does while the program runs, in row order.
enum act {
  GET,     // the server receives the command datagram for text (or text
           // itself, if it begins with 0xFF)
  GET_AT,  // as GET, once the clock has moved on n whole seconds from the
           // first datagram; for n = 0, at once, without a pause
  QUIET,   // the server takes what comes until 200 ms pass in silence
  REPLY,   // the server sends text to the program
  SPOOF,   // as REPLY, from another port (n = 1) or from 127.0.0.2 (n = 2)
  FEED,    // the user writes text to the script: a FIFO or the terminal
  END,     // the user ends the script: closes the FIFO, or types Ctrl+D
  REMOVE,  // the user removes the script file
  SIGNAL,  // the user sends signal n, times times
  SEE,     // stdout so far is text; waits for it on a terminal
  TICK,    // the user waits until the clock's next second has just begun
  HELD,    // the program's descriptor n is open on /dev/null
};
struct step {
  act what;
  std::string text{};
  int n = 0, times = 1;
};

// In args, $S is the server's ADDRESS:PORT and $P its port; the script is
// $F, a file holding the row's script, $Q, a FIFO, or $T, a terminal, which
// can also take stdout (>$T).
struct row {
  const char* name;
  std::string args, script;
  std::vector<step> steps;
  std::string out;
  int status = 0;
  std::string err{};
  const char* not_on_windows = nullptr;  // why the row cannot run there
};
void PrintTo(const row& r, std::ostream* os) { *os << r.name; }

std::string env(const char* name) { return getenv(name) ? getenv(name) : ""; }
bool windows_build() { return env("RCON_TEST_CRLF") == "1"; }
bool has(const std::string& text, const char* s) { return text.find(s) != text.npos; }

using seconds = std::chrono::duration<double>;
double now() {
  return seconds(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Returns \a text without the \a crs CRs that the Windows build and a
// terminal each put before a line feed, and without wine's cursor escapes.
std::string as_meant(const std::string& text, int crs) {
  std::string plain;
  for (size_t i = 0; i < text.size(); i++) {
    if (text.compare(i, 2, "\033[") == 0) {
      for (i += 2; i < text.size() && !isalpha(text[i] & 0xFF);) i++;
    } else if (text.compare(i, 2, "\r\n") != 0) {
      plain += text[i];
    }
  }
  return crs > 1 ? as_meant(plain, crs - 1) : crs == 1 ? plain : text;
}

// One run of the program with the stand-in server and its two impostors. A
// run that outlives its test is killed with all it started.
struct run {
  udp_peer server = udp_peer_open(), other_port = udp_peer_open(),
           other_addr = udp_peer_open("127.0.0.2");
  sockaddr_in client{};  // where the program listens
  double first = 0;      // when its first datagram came
  pid_t pid = -1;        // also its process group
  bool ended = false;
  int out = -1, err = -1, tty = -1, fifo = -1;
  std::string script, out_text, err_text;
  int status = -1, crs = 0;
  double deadline = now() + 15;

  ~run() {
    if (pid > 0) kill(-pid, SIGKILL);
    if (pid > 0 && !ended) waitpid(pid, &status, 0);
    for (int fd : {server.fd, other_port.fd, other_addr.fd, err, tty, fifo})
      if (fd >= 0) close(fd);
    if (out >= 0 && out != tty) close(out);
  }

  // Reads what stdout and stderr hold, waiting up to \a ms for more.
  void pump(int ms) {
    pollfd p[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    if (poll(p, 2, ms) <= 0) return;
    take(p[0], &out_text);
    take(p[1], &err_text);
  }
  // A pipe, or a terminal that nobody has open any more, ends there.
  void take(const pollfd& p, std::string* text) {
    char buf[65536];
    ssize_t n = p.revents ? read(p.fd, buf, sizeof buf) : 1;
    if (p.revents && n > 0) text->append(buf, static_cast<size_t>(n));
    if (n <= 0 && p.fd != tty) close(p.fd);
    if (n <= 0) (p.fd == out ? out : err) = -1;
  }

  // Returns true while the program runs; takes its exit status once it ends.
  bool running() { return !(ended = ended || waitpid(pid, &status, WNOHANG) == pid); }

  void finish() {
    while ((out >= 0 || err >= 0) && now() < deadline) pump(20);
    while (running() && now() < deadline) pump(5);
    EXPECT_TRUE(ended) << "still running at the deadline";
  }
};

// Starts the program, through the shell, as \a r says.
void start(run* p, const row& r) {
  int out[2], err[2];
  p->tty = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_TRUE(p->tty >= 0 && unlockpt(p->tty) == 0 && pipe2(out, O_CLOEXEC) == 0 &&
              pipe2(err, O_CLOEXEC) == 0);
  p->script = testing::TempDir() + "rcon-e2e-" + std::to_string(getpid());
  (void)remove(p->script.c_str());
  ASSERT_TRUE(!has(r.args, "$Q") || mkfifo(p->script.c_str(), 0600) == 0);
  FILE* f = has(r.args, "$F") ? fopen(p->script.c_str(), "wb") : nullptr;
  ASSERT_TRUE(!f ||
              (fwrite(r.script.data(), 1, r.script.size(), f) == r.script.size() &&
               fclose(f) == 0));
  std::string program =
      env("RCON_TEST_PROGRAM").empty() ? RCON_SCRIPT_EXE : env("RCON_TEST_PROGRAM");
  std::string line = "exec " + env("RCON_TEST_LAUNCHER") + " " + program + " " + r.args;
  std::string port = std::to_string(ntohs(p->server.addr.sin_port));
  for (const auto& sub : {std::make_pair("$S", "127.0.0.1:" + port),
                          {"$P", port},
                          {"$F", p->script},
                          {"$Q", p->script},
                          {"$T", ptsname(p->tty)}})
    for (size_t at; (at = line.find(sub.first)) != std::string::npos;)
      line.replace(at, 2, sub.second);
  // In a process group of its own, to be killed whole.
  if ((p->pid = fork()) == 0) {
    setpgid(0, 0);
    if (dup2(open("/dev/null", O_RDONLY), 0) == 0 && dup2(out[1], 1) == 1 &&
        dup2(err[1], 2) == 2)
      execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
    _exit(127);
  }
  ASSERT_GT(p->pid, 0);
  close(out[1]);
  close(err[1]);
  p->out = has(r.args, ">$T") ? (close(out[0]), p->tty) : out[0];
  p->crs = windows_build() + (p->out == p->tty);
  p->err = err[0];
  p->fifo = has(r.args, "$Q") ? open(p->script.c_str(), O_RDWR) : -1;
}

const char* const header = "\xFF\xFF\xFF\xFFprint\n";

// Carries out step \a s of run \a p, checking what it says the run does.
void take_step(const step& s, run* p) {
  std::string got;
  int server = p->server.fd, feed = p->fifo >= 0 ? p->fifo : p->tty;
  if (s.what == GET || s.what == GET_AT) {
    // No use waiting once the program has ended: all it sent is there.
    bool came = false;
    while (!(came = udp_receive(server, &got, 20, &p->client)) && p->running() &&
           now() < p->deadline) {
    }
    ASSERT_TRUE(came || udp_receive(server, &got, 0, &p->client)) << s.text;
    EXPECT_EQ(got, s.text[0] == '\xFF'
                       ? s.text
                       : "\xFF\xFF\xFF\xFFrcon \"pw\" " + s.text + '\0');
    if (p->first == 0) p->first = now();
    // A wait ends at its first half-second look at or after the clock's
    // second: wide margins around that, for a loaded machine.
    double late = now() - (s.n ? floor(p->first) + s.n : p->first);
    EXPECT_TRUE(s.what != GET_AT || (late > -0.05 && late < (s.n ? 0.9 : 0.4))) << late;
  }
  while (s.what == QUIET && now() < p->deadline && udp_receive(server, &got, 200)) {
  }
  int from = s.n == 1 ? p->other_port.fd : s.n == 2 ? p->other_addr.fd : server;
  if (s.what == REPLY || s.what == SPOOF) udp_send(from, s.text, p->client);
  if (s.what == FEED || (s.what == END && feed == p->tty)) {
    std::string text = s.what == FEED ? s.text : "\x04";  // Ctrl+D
    ASSERT_EQ(write(feed, text.data(), text.size()), ssize_t(text.size()));
  }
  // The program takes all of a FIFO's text before the next step writes more.
  for (int left = 1; s.what == FEED && feed == p->fifo &&
                     ioctl(feed, FIONREAD, &left) == 0 && left > 0 && p->running() &&
                     now() < p->deadline;)
    std::this_thread::sleep_for(seconds(0.001));
  if (s.what == END && feed == p->fifo) close(p->fifo), p->fifo = -1;
  EXPECT_TRUE(s.what != REMOVE || remove(p->script.c_str()) == 0);
  for (int i = 0; s.what == SIGNAL && i < s.times; i++) kill(p->pid, s.n);
  p->pump(0);
  // Waits while what has come so far may still grow into the text.
  for (std::string seen;
       s.what == SEE && (seen = as_meant(p->out_text, p->crs)) != s.text &&
       s.text.compare(0, seen.size(), seen) == 0 && now() < p->deadline;)
    p->pump(20);
  EXPECT_TRUE(s.what != SEE || as_meant(p->out_text, p->crs) == s.text) << p->out_text;
  // Just past the tick: the program's coarse clock may lag a few ms.
  double tick = floor(now()) + 1.05 - now();
  if (s.what == TICK) std::this_thread::sleep_for(seconds(tick));
  char held[64] = "";
  std::string fd = "/proc/" + std::to_string(p->pid) + "/fd/" + std::to_string(s.n);
  EXPECT_TRUE(s.what != HELD ||
              (readlink(fd.c_str(), held, 63) > 0 && held == "/dev/null"s))
      << fd << " is " << held;
}

std::string x(size_t n) { return std::string(n, 'x'); }

const char* const ONCE = "$S pw once $F";
const char* const STOP = "echo before\nrcon sync\nwait 30\necho after\nrcon after\n";
const char* const NO_FDS = "wine keeps descriptors of its own";
const char* const NO_KILL = "Windows cannot send SIGTERM or SIGABRT to another process";
const char* const NO_CUT = "on Windows a stop waits for the pipe's next line";
const char* const NO_TTY = "wine reads no Unix terminal; its console is CON";

std::vector<row> rows() {
  std::string echoes = "rcon hi\n", printed, burst;
  std::vector<step> bursting = {{GET, "a"}}, flooding = {{GET, "hi"}};
  for (int i = 0; i < 20000; i++) {
    echoes += (i == 10000 ? "wait 2\necho " : "echo ") + std::to_string(i) + "\n";
    printed += std::to_string(i) + "\n";
  }
  for (int i = 0; i < 1000; i++) {
    std::string text = "reply " + std::to_string(i) + x(88) + "\n";
    burst += text;
    bursting.push_back({REPLY, header + text});
  }
  for (int i = 0; i < 100000; i++)
    flooding.push_back({REPLY, i % 2 ? "junk" : "\xFF\xFF\xFF\xFFstatusResponse\n"});
  // clang-format off
  return {
    // The command line and the exit status.
    {"ThreeArguments", "$S pw once", "", {}, "", 1},
    {"FiveArguments", "$S pw once $F x", "rcon x\n", {}, "", 1},
    {"NoColon", "127.0.0.1 pw once $F", "rcon x\n", {}, "", 1},
    {"MissingScript", "$S pw once $F.missing", "", {}, ""},
    {"PortWrapsAt16Bits", "127.0.0.1:$(($P+65536)) pw once $F", "rcon x\n", {{GET, "x"}}, ""},
    {"NegativePortWrapsToo", "127.0.0.1:$(($P-65536)) pw once $F", "rcon x\n", {{GET, "x"}}, ""},
    {"PortEndsAtANonDigit", "127.0.0.1:$P:1 pw once $F", "rcon x\n", {{GET, "x"}}, ""},
    {"NoNameLookup", "localhost:$P pw once $F", "rcon x\necho y\n", {}, "y\n"},
    {"LoopyIsNoLoop", "$S pw loopy $F", "rcon x\n", {{GET, "x"}}, ""},
    {"LoopInCapitalsIsNoLoop", "$S pw LOOP $F", "rcon x\n", {{GET, "x"}}, ""},
    {"LoopRunsUntilStoppedEvenWithoutAScript", "$S pw loop $F", "rcon x\n",
     {{GET, "x"}, {GET, "x"}, {REMOVE}, {QUIET}, {SIGNAL, "", SIGINT}}, ""},
    // Commands and the bytes on the wire.
    {"RconSendsTheRestAsItStands", ONCE, "rcon status\nrcon  two words\nrcon \nrcon %s%n",
     {{GET, "status"}, {GET, " two words"}, {GET, ""}, {GET, "%s%n"}}, ""},
    {"PasswordGoesInQuotesAsItStands", "$S 'p\"s%s' once $F", "rcon status\n",
     {{GET, "\xFF\xFF\xFF\xFFrcon \"p\"s%s\" status\0"s}}, ""},
    {"LongestCommandThatFits", ONCE, "rcon " + x(1009) + "\nrcon " + x(1010) + "\nrcon z",
     {{GET, x(1009)}, {GET, "z"}}, ""},
    {"PasswordTooLongForAnyCommand", "$S " + x(1012) + " once $F", "rcon \n", {}, ""},
    {"PasswordLongerThanADatagram", "$S " + x(1025) + " once $F", "rcon \n", {}, ""},
    {"OnlyExactKeywordsAreCommands", ONCE,
     "RCON x\n rcon x\nrcon\tx\nrcon\necho\nEcho x\n# note\n\nwait\n", {}, ""},
    {"EchoPrintsTheRestAsItStands", ONCE, "echo hi\necho \necho %s%n\n", {}, "hi\n\n%s%n\n"},
    // Reading the script.
    {"CrLfReadsAsLfOtherCrsStay", ONCE, "echo a\r\nrcon b\r\necho c\rd\necho e\r\r\n",
     {{GET, "b"}}, "a\nc\rd\ne\r\n"},
    {"CtrlZEndsTheScript", ONCE, "echo a\necho b\x1A\necho c\n", {}, "a\nb\n"},
    {"ZeroByteEndsItsLine", ONCE, "echo a\0b\necho c\n"s, {}, "a\nc\n"},
    {"LastLineNeedsNoLineFeed", ONCE, "echo a\necho b", {}, "a\nb\n"},
    {"LongLinesAreCutAt1024", ONCE, "echo " + x(1019) + "echo y\n", {}, x(1019) + "\ny\n"},
    {"BinaryJunkDoesNothing", ONCE, "\x01\xFE\0\x7F\xFF\r\r\n\x80"s, {}, ""},
    {"FifoLinesAreTakenAsTheyCome", "$S pw once $Q", "", {{FEED, "rcon one\n"}, {GET, "one"},
     {REPLY, header + "r\n"s}, {FEED, "rcon two\r"}, {FEED, "\n"}, {GET, "two"},
     {FEED, "echo 3"}, {END}}, "r\n3\n"},
    {"TerminalScriptEndsAtCtrlD", "$S pw once $T", "", {{FEED, "rcon one\n"}, {GET, "one"},
     {FEED, "rcon two"}, {END}, {END}, {GET, "two"}}, "", 0, "", NO_TTY},
    // Waits.
    {"WaitsThatEndAtOnce", ONCE,
     "rcon a\nwait -5\nwait x\nwait\nwait 0\nwait 4294967296\nwait 2147483647\nrcon b\n",
     {{GET, "a"}, {GET_AT, "b", 0}}, ""},
    {"WaitCountsWholeSecondsOfTheClock", "$S pw once $Q", "",
     {{TICK}, {FEED, "rcon a\nwait 2 s\nrcon b\n"}, {GET, "a"}, {GET_AT, "b", 2}, {END}}, ""},
    // Replies.
    {"PrintsWhatTheServerSaysAndNothingElse", ONCE, "rcon s\nwait 1\necho after\n",
     {{GET, "s"}, {SPOOF, header + "port\n"s, 1}, {SPOOF, header + "address\n"s, 2},
      {REPLY, header + "map: q\n"s}, {REPLY, "\xFF\xFF\xFF\xFFinfoResponse\n"},
      {REPLY, std::string(header, 9)}, {REPLY, "\xFF"}, {REPLY, header + "%s%n\n"s},
      {REPLY, header + "a\0b\n"s}, {REPLY, header + x(1490)},
      {REPLY, header + "no line feed"s}, {REPLY, header + x(1491)},
      {REPLY, header + x(65497)}, {REPLY, header}, {REPLY, ""}},
     "map: q\n%s%n\na" + x(1490) + "no line feedafter\n"},
    {"BurstDuringAWaitIsPrintedWhole", ONCE, "rcon a\nwait 2\n", bursting, burst},
    {"JunkFloodDerailsNothing", ONCE, echoes, flooding, printed},
    // Output.
    {"TerminalSeesEachPrintAtOnce", "$S pw once $F >$T", "echo shown\nrcon a\nwait 30\n",
     {{GET, "a"}, {SEE, "shown\n"}, {REPLY, header + "reply"s}, {SEE, "shown\nreply"},
      {SIGNAL, "", SIGINT}}, "shown\nreply"},
    {"PipeGetsWholeBlocks", ONCE, "echo held\nrcon a\nwait 30\n",
     {{GET, "a"}, {SEE, ""}, {SIGNAL, "", SIGINT}}, "held\n"},
    {"FullDiskIsReported", "$S pw once $F >/dev/full", "rcon a\necho lost\nrcon b\n",
     {{GET, "a"}, {GET, "b"}}, "", 1, "rcon-script: write error: No space left on device\n"},
    {"ClosedStdoutIsReported", "$S pw once $F >&-", "rcon a\necho lost\nrcon b\n",
     {{GET, "a"}, {GET, "b"}}, "", 1, "rcon-script: write error: Bad file descriptor\n"},
    {"ClosedStdinAndStderrAreHeld", "$S pw once $F <&- 2>&-", "echo b\nrcon a\nwait 30\n",
     {{GET, "a"}, {HELD, "", 0}, {HELD, "", 2}, {SIGNAL, "", SIGINT}}, "b\n", 0, "", NO_FDS},
    // Stopping.
    {"InterruptsEndAWaitInOrder", ONCE, STOP, {{GET, "sync"}, {SIGNAL, "", SIGINT, 1000}},
     "before\n"},
    {"TerminationAndAbortToo", ONCE, STOP,
     {{GET, "sync"}, {SIGNAL, "", SIGTERM}, {SIGNAL, "", SIGABRT}}, "before\n", 0, "", NO_KILL},
    {"StopWhileWaitingForALine", "$S pw once $Q", "",
     {{FEED, "echo before\nrcon sync\n"}, {GET, "sync"}, {SIGNAL, "", SIGINT}}, "before\n", 0,
     "", NO_CUT},
    {"StopWhileWaitingForAWriter", "$S pw loop $Q", "",
     {{FEED, "rcon a\n"}, {GET, "a"}, {END}, {QUIET}, {SIGNAL, "", SIGINT}}, ""},
  };
  // clang-format on
}

class EndToEnd : public testing::TestWithParam<row> {};

TEST_P(EndToEnd, Runs) {
  const row& r = GetParam();
  if (windows_build() && r.not_on_windows) GTEST_SKIP() << r.not_on_windows;
  long rmem_max = 0;
  std::ifstream("/proc/sys/net/core/rmem_max") >> rmem_max;
  if (has(r.name, "Burst") && geteuid() != 0 && rmem_max < 1 << 20)
    GTEST_SKIP() << "not root and net.core.rmem_max < 1 MiB: the burst may overflow";
  run p;
  ASSERT_TRUE(p.server.fd >= 0 && p.other_port.fd >= 0 && p.other_addr.fd >= 0);
  ASSERT_NO_FATAL_FAILURE(start(&p, r));
  for (const step& s : r.steps) ASSERT_NO_FATAL_FAILURE(take_step(s, &p));
  p.finish();
  EXPECT_EQ(WIFEXITED(p.status) ? WEXITSTATUS(p.status) : 128 + WTERMSIG(p.status),
            r.status);
  EXPECT_EQ(as_meant(p.out_text, p.crs), r.out);
  EXPECT_EQ(as_meant(p.err_text, windows_build()), r.err);
  std::string more;
  EXPECT_FALSE(udp_receive(p.server.fd, &more, 0)) << "also sent: " << more;
}

INSTANTIATE_TEST_SUITE_P(Rows, EndToEnd, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<row>& r) {
                           return r.param.name;
                         });

}  // namespace
