// The program as its users meet it, one row a behaviour: the command line
// (with the shell's redirections), the script, what the stand-in server on a
// loopback port and the user do while it runs, and what comes out: the
// datagrams, stdout, stderr and the exit status.
//
// To add a row, read the rows at the end and the steps above them; the run
// itself, at the top, needs no reading.
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
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback.h"

namespace {

using namespace std::string_literals;

std::string env(const char* name) {
  return getenv(name) ? getenv(name) : "";
}
bool under_wine() {
  return env("RCON_TEST_CRLF") == "1";
}
bool has(const std::string& text, const char* part) {
  return text.find(part) != text.npos;
}

double now() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since).count();
}
void sleep_for(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Returns \a text without the \a crs CRs that the Windows build and a
// terminal each put before a line feed, and without wine's cursor escapes.
std::string as_meant(const std::string& text, int crs) {
  if (crs == 0) return text;
  std::string plain;
  for (size_t i = 0; i < text.size(); i++) {
    if (text.compare(i, 2, "\033[") == 0) {
      i += 2;
      while (i < text.size() && !isalpha(text[i] & 0xFF)) i++;
    } else if (text.compare(i, 2, "\r\n") != 0) {
      plain += text[i];
    }
  }
  return as_meant(plain, crs - 1);
}

// Returns the number after \a key in /proc/PID/status (VmRSS: in KiB), or -1.
long proc_status(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  long value = -1;
  while (status >> word && word != key) {
  }
  status >> value;
  return value;
}

// Returns whether \a pid sleeps, waiting for something.
bool asleep(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pid_field, name, state;
  stat >> pid_field >> name >> state;
  return state == "S";
}

// Returns how many descriptors \a pid has open.
int open_descriptors(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
  int count = 0;
  struct stat st;
  for (int fd = 0; fd < 1024; fd++) {
    if (stat((dir + std::to_string(fd)).c_str(), &st) == 0) count++;
  }
  return count;
}

// ------------------------------------------------------------- The run

// One run of the program with the stand-in server and its two impostors. A
// run that outlives its test is killed with all it started.
struct run {
  udp_peer peers[3] = {udp_peer_open(), udp_peer_open(), udp_peer_open("127.0.0.2")};
  sockaddr_in client{};  // where the program listens
  double started = now(), deadline = started + 15;
  double first = 0;  // when the program's first datagram came
  pid_t pid = -1;    // also its process group
  bool ended = false;
  int status = -1;
  rusage usage{};
  int out = -1, err = -1, tty = -1, fifo = -1;
  bool stalled = false;  // stdout is not read until the program ends
  std::string script, out_text, err_text;
  int crs = 0;  // CRs before each line feed on stdout

  ~run() {
    if (pid > 0) kill(-pid, SIGKILL);
    if (pid > 0 && !ended) waitpid(pid, &status, 0);
    for (const udp_peer& peer : peers) close(peer.fd);
    for (int fd : {err, tty, fifo, out == tty ? -1 : out}) {
      if (fd >= 0) close(fd);
    }
  }

  int server() const {
    return peers[0].fd;
  }
  bool time_left() const {
    return now() < deadline;
  }

  // Returns true while the program runs; takes its exit status once it ends.
  bool running() {
    if (!ended && wait4(pid, &status, WNOHANG, &usage) == pid) ended = true;
    return !ended;
  }

  // Reads what stdout and stderr hold, waiting up to \a ms for more.
  void pump(int ms) {
    pollfd p[2] = {{stalled ? -1 : out, POLLIN, 0}, {err, POLLIN, 0}};
    if (poll(p, 2, ms) <= 0) return;
    if (p[0].revents != 0) take(&out, &out_text);
    if (p[1].revents != 0) take(&err, &err_text);
  }

  // Appends what \a fd holds to \a text; at its end (a pipe whose writer is
  // gone, a terminal that nobody has open) stops reading it.
  void take(int* fd, std::string* text) {
    char buf[65536];
    ssize_t n = read(*fd, buf, sizeof buf);
    if (n > 0) {
      text->append(buf, static_cast<size_t>(n));
      return;
    }
    if (*fd != tty) close(*fd);
    *fd = -1;
  }

  // Waits for the program to end and for all it wrote.
  void finish() {
    stalled = false;
    while ((out >= 0 || err >= 0) && time_left()) pump(20);
    while (running() && time_left()) pump(5);
    EXPECT_TRUE(ended) << "still running at the deadline";
  }

  // Waits until the program has taken all that the FIFO holds and is
  // blocked: it has acted on every line and waits for the next. Blocked
  // means asleep, and not woken once in 30 ms: a program under wine sleeps
  // for a moment in each call it makes, on its way to the next line too.
  void wait_until_idle() {
    long switches = -1;
    double since = now();
    while (running() && time_left()) {
      sleep_for(0.002);
      int unread = 0;
      ioctl(fifo, FIONREAD, &unread);
      long woken = proc_status(pid, "voluntary_ctxt_switches:") +
                   proc_status(pid, "nonvoluntary_ctxt_switches:");
      if (unread > 0 || !asleep(pid) || woken != switches) {
        switches = woken;
        since = now();
      } else if (now() - since >= 0.03) {
        return;
      }
    }
  }
};

// Starts the program through the shell, in a process group of its own. The
// shell reads \a args with $S as the server's ADDRESS:PORT and $P as its
// port; the script is $F, a file holding \a script, or $Q, a FIFO. Stdout
// can be a terminal: >$T.
void start(run* p, const std::string& args, const std::string& script) {
  p->tty = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(p->tty, 0);
  ASSERT_EQ(unlockpt(p->tty), 0);
  p->script = testing::TempDir() + "rcon-e2e-" + std::to_string(getpid());
  (void)remove(p->script.c_str());
  if (has(args, "$Q")) {
    ASSERT_EQ(mkfifo(p->script.c_str(), 0600), 0);
  }
  if (has(args, "$F")) std::ofstream(p->script, std::ios::binary) << script;
  int out[2], err[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  std::string port = std::to_string(ntohs(p->peers[0].addr.sin_port));
  setenv("S", ("127.0.0.1:" + port).c_str(), 1);
  setenv("P", port.c_str(), 1);
  setenv("F", p->script.c_str(), 1);
  setenv("Q", p->script.c_str(), 1);
  setenv("T", ptsname(p->tty), 1);
  std::string program = env("RCON_TEST_PROGRAM");
  if (program.empty()) program = RCON_SCRIPT_EXE;
  std::string line = "exec " + env("RCON_TEST_LAUNCHER") + " " + program + " " + args;
  p->pid = fork();
  if (p->pid == 0) {
    setpgid(0, 0);
    int null = open("/dev/null", O_RDONLY);
    if (dup2(null, 0) == 0 && dup2(out[1], 1) == 1 && dup2(err[1], 2) == 2)
      execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
    _exit(127);
  }
  ASSERT_GT(p->pid, 0);
  close(out[1]);
  close(err[1]);
  p->err = err[0];
  p->out = out[0];
  if (has(args, ">$T")) {
    close(out[0]);
    p->out = p->tty;
  }
  if (under_wine()) p->crs++;
  if (p->out == p->tty) p->crs++;
  if (has(args, "$Q")) p->fifo = open(p->script.c_str(), O_RDWR);
}

// ----------------------------------------------------------- The steps

// What the server or the user does while the program runs, or a check of
// how it runs: each constructor below returns one.
typedef std::function<void(run*)> step;

const char* const HEADER = "\xFF\xFF\xFF\xFFprint\n";  // of a console-output reply
enum { SERVER, OTHER_PORT, OTHER_ADDRESS };            // who sends a datagram

// The command datagram for \a text, with the rows' password "pw".
std::string command(const std::string& text) {
  return "\xFF\xFF\xFF\xFFrcon \"pw\" " + text + '\0';
}

// The server receives \a bytes, \a times times over, and nothing between.
void expect_datagram(run* p, const std::string& bytes, int times = 1) {
  std::string got;
  for (int i = 0; i < times; i++) {
    bool came = udp_receive(p->server(), &got, 20, &p->client);
    // No use waiting once the program has ended: all it sent is there.
    while (!came && p->running() && p->time_left())
      came = udp_receive(p->server(), &got, 20, &p->client);
    if (!came) came = udp_receive(p->server(), &got, 0, &p->client);
    ASSERT_TRUE(came) << "no datagram came; expected " << bytes;
    ASSERT_EQ(got, bytes);
  }
  if (p->first == 0) p->first = now();
}

// The server receives the command datagram for \a text.
step get(const std::string& text) {
  return [=](run* p) { expect_datagram(p, command(text)); };
}
step get_bytes(const std::string& bytes) {
  return [=](run* p) { expect_datagram(p, bytes); };
}

// As get(), once the clock has moved on \a seconds whole seconds from the
// first datagram's; for 0, at once. A wait ends at its first half-second
// look at or after the clock's second: wide margins around that.
step get_at(const std::string& text, int seconds) {
  return [=](run* p) {
    double expected = seconds > 0 ? floor(p->first) + seconds : p->first;
    ASSERT_NO_FATAL_FAILURE(expect_datagram(p, command(text)));
    EXPECT_GT(now() - expected, -0.05) << "came before its second";
    EXPECT_LT(now() - expected, seconds > 0 ? 0.9 : 0.4) << "came late";
  };
}

// The server takes what comes until 200 ms pass in silence.
step quiet() {
  return [](run* p) {
    std::string got;
    while (p->time_left() && udp_receive(p->server(), &got, 200)) {
    }
  };
}

// Any datagram, from the server, or from an impostor.
step send(const std::string& bytes, int from = SERVER) {
  return [=](run* p) { udp_send(p->peers[from].fd, bytes, p->client); };
}
// A console-output reply with \a text, from the server.
step reply(const std::string& text) {
  return send(HEADER + text);
}
// A console-output reply for each of \a texts, from the server.
step replies(const std::vector<std::string>& texts) {
  return [=](run* p) {
    for (const std::string& text : texts)
      udp_send(p->server(), HEADER + text, p->client);
  };
}
step spoof(int from, const std::string& text) {
  return send(HEADER + text, from);
}

// The user writes \a text to the FIFO that is the script; the program then
// acts on all of it before the next step.
step feed(const std::string& text) {
  return [=](run* p) {
    ASSERT_EQ(write(p->fifo, text.data(), text.size()), ssize_t(text.size()));
    p->wait_until_idle();
  };
}

// The user closes the FIFO.
step end_script() {
  return [](run* p) {
    close(p->fifo);
    p->fifo = -1;
  };
}

step signal(int sig, int times = 1) {
  return [=](run* p) {
    for (int i = 0; i < times; i++) kill(p->pid, sig);
  };
}

// Stdout so far is \a text; waits while what came may still grow into it.
step see(const std::string& text) {
  return [=](run* p) {
    std::string seen = as_meant(p->out_text, p->crs);
    while (seen != text && text.compare(0, seen.size(), seen) == 0 && p->time_left()) {
      p->pump(20);
      seen = as_meant(p->out_text, p->crs);
    }
    EXPECT_EQ(seen, text);
  };
}

// The user waits until the clock's next second has just begun (the
// program's coarse clock may lag a few ms).
step tick() {
  return [](run*) { sleep_for(floor(now()) + 1.05 - now()); };
}

// The program is still running \a seconds later (runs_for), or has ended by
// then (ends_within).
step runs_for(double seconds) {
  return [=](run* p) {
    double until = now() + seconds;
    while (now() < until && p->running()) p->pump(5);
    EXPECT_TRUE(p->running()) << "ended by itself";
  };
}
step ends_within(double seconds) {
  return [=](run* p) {
    double until = now() + seconds;
    while (now() < until && p->running()) p->pump(5);
    EXPECT_FALSE(p->running()) << "still running after " << seconds << " s";
  };
}

// The user does not read stdout, a pipe, until the program has ended; the
// step waits until the pipe is full. It comes first, before anything is read.
step stall_output() {
  return [](run* p) {
    p->stalled = true;
    int capacity = fcntl(p->out, F_GETPIPE_SZ);
    int unread = 0;
    while (unread < capacity && p->running() && p->time_left()) {
      sleep_for(0.001);
      ASSERT_EQ(ioctl(p->out, FIONREAD, &unread), 0);
    }
    EXPECT_EQ(unread, capacity);
  };
}

// The ended program used at most \a share of the time it ran on the CPU.
step cpu_at_most(double share) {
  return [=](run* p) {
    ASSERT_FALSE(p->running());
    const timeval& user = p->usage.ru_utime;
    const timeval& system = p->usage.ru_stime;
    double cpu = static_cast<double>(user.tv_sec + system.tv_sec) +
                 static_cast<double>(user.tv_usec + system.tv_usec) * 1e-6;
    EXPECT_LE(cpu, share * (now() - p->started)) << "CPU seconds";
  };
}

// While the server receives the command for \a text \a times times more,
// the program's open descriptors stay as they were and its memory grows by
// no more than 128 KiB: a leak of one descriptor, or of a few hundred bytes,
// a pass would show.
step keeps_resources(const std::string& text, int times) {
  return [=](run* p) {
    int fds = open_descriptors(p->pid);
    long rss = proc_status(p->pid, "VmRSS:");
    ASSERT_NO_FATAL_FAILURE(expect_datagram(p, command(text), times));
    EXPECT_LE(open_descriptors(p->pid), fds + 1)
        << "the script may be open at one look";
    EXPECT_LE(proc_status(p->pid, "VmRSS:"), rss + 128) << "KiB resident";
  };
}

// ------------------------------------------------------------- The rows

// A row cannot run where applies() says so, for the reason why.
struct skip {
  bool (*applies)();
  const char* why;
};

// Where a burst of replies may overflow the receive buffer.
bool small_receive_buffer() {
  long rmem_max = 0;
  std::ifstream("/proc/sys/net/core/rmem_max") >> rmem_max;
  return geteuid() != 0 && rmem_max < 1 << 20;
}

struct row {
  const char* name;
  std::string args, script;
  std::vector<step> steps;
  std::string out;
  int status = 0;  // 128 + N for death by signal N
  std::string err{};
  std::vector<skip> skips{};
};
void PrintTo(const row& r, std::ostream* os) {
  *os << r.name;
}

std::string x(size_t n) {
  return std::string(n, 'x');
}

const char* const ONCE = "$S pw once $F";
const char* const STOP = "echo before\nrcon sync\nwait 30\necho after\nrcon after\n";

const skip NO_KILL = {under_wine,
                      "Windows cannot send SIGTERM or SIGABRT to another process"};
const skip NO_CUT = {under_wine, "on Windows a stop waits for the pipe's next line"};
const skip NO_SIGNALS = {under_wine, "wine turns Unix signals into its own events"};
const skip NO_PROC = {under_wine, "wine's own threads and memory fill /proc"};
const skip NO_UNBLOCK = {under_wine, "Windows cannot cut a blocked write short"};
const skip WINE_CPU = {under_wine, "wine's own start-up costs more CPU than the bound"};
const skip SMALL_BUFFER = {
    small_receive_buffer,
    "not root and net.core.rmem_max < 1 MiB: the burst may overflow"};

// 1000 replies of 100 characters, and what they print.
std::vector<std::string> burst(std::string* printed) {
  std::vector<std::string> texts;
  for (int i = 0; i < 1000; i++) {
    texts.push_back("reply " + std::to_string(i) + x(88) + "\n");
    *printed += texts.back();
  }
  return texts;
}

// Lines of 100 characters, more than a pipe holds, and the part of what
// they print that fills a pipe of 64 KiB.
std::string long_echoes(std::string* fills_pipe) {
  std::string script, printed;
  for (int i = 0; i < 1000; i++) {
    script += "echo " + x(99) + "\n";
    printed += x(99) + "\n";
  }
  *fills_pipe = printed.substr(0, 65536);
  return script;
}

std::vector<row> rows() {
  std::string stalled;
  std::string echoes_past_a_pipe = "rcon sync\n" + long_echoes(&stalled);
  std::string burst_printed;
  std::vector<std::string> burst_texts = burst(&burst_printed);
  // clang-format off
  return {
    // The command line and the exit status.
    {"ThreeArguments", "$S pw once", "", {}, "", 1},
    {"FiveArguments", "$S pw once $F x", "rcon x\n", {}, "", 1},
    {"NoColon", "127.0.0.1 pw once $F", "rcon x\n", {}, "", 1},
    {"MissingScript", "$S pw once $F.missing", "", {}, ""},
    {"PortWrapsAt16And32Bits", "127.0.0.1:$(($P+65536+4294967296)) pw once $F", "rcon x\n",
     {get("x")}, ""},
    {"NegativePortWrapsToo", "127.0.0.1:$(($P-65536)) pw once $F", "rcon x\n", {get("x")}, ""},
    {"PortTakesBlanksASignAndTrailingText", "\"127.0.0.1: \t+$P:1\" pw once $F", "rcon x\n",
     {get("x")}, ""},
    {"NoNameLookup", "localhost:$P pw once $F", "rcon x\necho y\n", {}, "y\n"},
    {"LoopyIsNoLoop", "$S pw loopy $F", "rcon x\n", {get("x")}, ""},
    {"LoopInCapitalsIsNoLoop", "$S pw LOOP $F", "rcon x\n", {get("x")}, ""},
    {"LoopWaitsForAMissingScript", "$S pw loop $F.missing", "",
     {runs_for(0.3), signal(SIGINT), ends_within(1)}, ""},
    {"LoopRunsAnEmptyScriptUntilStopped", "$S pw loop $F", "",
     {runs_for(0.3), signal(SIGINT), ends_within(1)}, ""},
    {"LoopKeepsItsDescriptorsAndMemory", "$S pw loop $F", "rcon p\n",
     {get("p"), keeps_resources("p", 5000), signal(SIGINT), quiet()}, "", 0, "", {NO_PROC}},
    // Commands and the bytes on the wire.
    {"RconSendsTheRestAsItStands", ONCE, "rcon status\nrcon  two words\nrcon \nrcon %s%n",
     {get("status"), get(" two words"), get(""), get("%s%n")}, ""},
    {"PasswordGoesInQuotesAsItStands", "$S 'p\"s%s' once $F", "rcon status\n",
     {get_bytes("\xFF\xFF\xFF\xFFrcon \"p\"s%s\" status\0"s)}, ""},
    {"LongestCommandThatFits", ONCE, "rcon " + x(1009) + "\nrcon " + x(1010) + "\nrcon z",
     {get(x(1009)), get("z")}, ""},
    {"PasswordTooLongForAnyCommand", "$S " + x(1012) + " once $F", "rcon \n", {}, ""},
    {"OnlyExactKeywordsAreCommands", ONCE,
     "RCON x\n rcon x\nrcon\tx\nrcon\necho\nEcho x\n# note\n\nwait\n", {}, ""},
    {"EchoPrintsTheRestAsItStands", ONCE, "echo hi\necho \necho %s%n\n", {}, "hi\n\n%s%n\n"},
    // Reading the script.
    {"CrLfReadsAsLfOtherCrsStay", ONCE, "echo a\r\nrcon b\r\necho c\rd\necho e\r\r\n",
     {get("b")}, "a\nc\rd\ne\r\n"},
    {"CtrlZEndsTheScript", ONCE, "echo a\necho b\x1A\necho c\n", {}, "a\nb\n"},
    {"ZeroByteEndsItsLine", ONCE, "echo \0b\nrcon c\n"s, {get("c")}, "\n"},
    {"ByteOrderMarkIsSkippedAtTheStartOfEveryPass", "$S pw loop $F",
     "\xEF\xBB\xBFrcon a\n\xEF\xBB\xBFrcon b\n", {get("a"), get("a"), signal(SIGINT), quiet()}, ""},
    {"ByteOrderMarkInPiecesFromAPipe", "$S pw once $Q", "",
     {feed("\xEF"), feed("\xBB\xBF"), feed("rcon a\n"), get("a"), end_script()}, ""},
    {"FifoLinesAreTakenAsTheyCome", "$S pw once $Q", "",
     {feed("rcon one\n"), get("one"), reply("r\n"), feed("rcon two\r"), feed("\n"),
      get("two"), feed("echo 3"), end_script()}, "r\n3\n"},
    // Waits.
    {"WaitsThatEndAtOnce", ONCE,
     "rcon a\nwait -5\nwait x\nwait\nwait 0\nwait 4294967296\nwait 2147483647\nrcon b\n",
     {get("a"), get_at("b", 0)}, ""},
    {"WaitCountsWholeSecondsOfTheClock", "$S pw once $Q", "",
     {tick(), feed("rcon a\nwait \t+1 s\nrcon b\nwait 4294967297\nrcon c\n"), get("a"),
      get_at("b", 1), get_at("c", 2), end_script()}, ""},
    {"WaitCostsAlmostNoCpu", ONCE, "wait 2\n", {ends_within(3), cpu_at_most(0.05)}, "",
     0, "", {WINE_CPU}},
    // Replies and drains.
    {"PrintsWhatTheServerSaysAndNothingElse", ONCE, "rcon s\nwait 1\necho after\n",
     {get("s"), spoof(OTHER_PORT, "port\n"), spoof(OTHER_ADDRESS, "address\n"),
      reply("map: q\n"), send("\xFF\xFF\xFF\xFFinfoResponse\n"), send(std::string(HEADER, 9)),
      send("\xFF"), reply("%s%n\n"), reply("a\0b\n"s), reply(x(1490)), reply("no line feed"),
      reply(x(1491)), reply(x(65497)), send(HEADER), send("")},
     "map: q\n%s%n\na" + x(1490) + "no line feedafter\n"},
    {"EveryLineIsFollowedByADrain", "$S pw once $Q", "",
     {feed("rcon a\n"), get("a"), reply("1\n"), feed("# note\necho -\n"), reply("2\n"),
      feed("\necho -\n"), reply("3\n"), feed("wait\necho -\n"), reply("4\n"),
      feed("wait 0\necho -\n"), end_script()}, "1\n-\n2\n-\n3\n-\n4\n-\n"},
    {"WhatEndsADrain", "$S pw once $Q", "",
     {feed("rcon a\n"), get("a"), reply("1\n"), send(""), reply("2\n"), feed("echo x\n"),
      reply("3\n"), send(HEADER), reply("4\n"), feed("echo y\n"), reply("5\n"),
      send("\xFF\xFF\xFF\xFFjunk"), spoof(OTHER_PORT, "no\n"), send("\x01"), reply("6\n"),
      feed("echo z\n"), end_script()}, "x\n1\ny\n2\n3\nz\n4\n5\n6\n"},
    {"NoDrainAfterTheLastLine", "$S pw once $Q", "",
     {feed("rcon a\n"), get("a"), reply("late\n"), end_script()}, ""},
    {"BurstDuringAWaitIsPrintedWhole", ONCE, "rcon a\nwait 2\n",
     {get("a"), replies(burst_texts)}, burst_printed, 0, "",
     {SMALL_BUFFER}},
    // Output.
    {"TerminalSeesEachPrintAtOnce", "$S pw once $F >$T", "echo shown\nrcon a\nwait 30\n",
     {get("a"), see("shown\n"), reply("reply"), see("shown\nreply"), signal(SIGINT)},
     "shown\nreply"},
    {"PipeGetsWholeBlocks", ONCE, "echo held\nrcon a\nwait 30\n",
     {get("a"), see(""), signal(SIGINT)}, "held\n"},
    {"FullDiskIsReported", "$S pw once $F >/dev/full", "rcon a\necho lost\nrcon b\n",
     {get("a"), get("b")}, "", 1, "rcon-script: write error: No space left on device\n"},
    {"ClosedStdoutIsReported", "$S pw once $F >&-", "rcon a\necho lost\nrcon b\n",
     {get("a"), get("b")}, "", 1, "rcon-script: write error: Bad file descriptor\n"},
    {"StopEndsAStalledPipe", ONCE, echoes_past_a_pipe,
     {stall_output(), get("sync"), signal(SIGTERM), ends_within(2)}, stalled, 1,
     "rcon-script: write error: Interrupted system call\n", {NO_UNBLOCK}},
    {"StopsThatFollowDoNotPutOffTheEnd", ONCE, echoes_past_a_pipe,
     {stall_output(), get("sync"), signal(SIGTERM), runs_for(0.25), signal(SIGTERM),
      runs_for(0.25), signal(SIGTERM), ends_within(0.8)}, stalled, 1,
     "rcon-script: write error: Interrupted system call\n", {NO_UNBLOCK}},
    // Stopping.
    {"InterruptsEndAWaitInOrder", ONCE, STOP,
     {get("sync"), signal(SIGINT, 1000), ends_within(1)}, "before\n"},
    {"TerminationAndAbortToo", ONCE, STOP,
     {get("sync"), signal(SIGTERM), signal(SIGABRT), ends_within(1)}, "before\n", 0, "",
     {NO_KILL}},
    {"OtherSignalsKeepTheirDefaultAction", ONCE, STOP, {get("sync"), signal(SIGHUP)}, "",
     128 + SIGHUP, "", {NO_SIGNALS}},
    {"StopWhileWaitingForALine", "$S pw once $Q", "",
     {feed("echo before\nrcon sync\n"), get("sync"), signal(SIGINT), ends_within(1)},
     "before\n", 0, "", {NO_CUT}},
    {"StopWhileWaitingForAWriter", "$S pw loop $Q", "",
     {feed("rcon a\n"), get("a"), end_script(), quiet(), signal(SIGINT), ends_within(1)}, ""},
  };
  // clang-format on
}

class EndToEnd : public testing::TestWithParam<row> {};

TEST_P(EndToEnd, Runs) {
  const row& r = GetParam();
  for (const skip& s : r.skips) {
    if (s.applies()) GTEST_SKIP() << s.why;
  }
  run p;
  ASSERT_GE(p.peers[SERVER].fd, 0);
  ASSERT_GE(p.peers[OTHER_PORT].fd, 0);
  ASSERT_GE(p.peers[OTHER_ADDRESS].fd, 0);
  ASSERT_NO_FATAL_FAILURE(start(&p, r.args, r.script));
  for (const step& s : r.steps) {
    ASSERT_NO_FATAL_FAILURE(s(&p));
    p.pump(0);
  }
  p.finish();
  int status = WIFEXITED(p.status) ? WEXITSTATUS(p.status) : 128 + WTERMSIG(p.status);
  EXPECT_EQ(status, r.status);
  EXPECT_EQ(as_meant(p.out_text, p.crs), r.out);
  EXPECT_EQ(as_meant(p.err_text, under_wine()), r.err);
  std::string more;
  EXPECT_FALSE(udp_receive(p.server(), &more, 0)) << "also sent: " << more;
}

INSTANTIATE_TEST_SUITE_P(Rows, EndToEnd, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<row>& r) {
                           return r.param.name;
                         });

}  // namespace
