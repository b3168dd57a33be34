// The program as its users meet it: each row starts the real program with a
// script, against a stand-in server on a loopback port, and then takes its
// steps in order: each one thing that the server or the user does, or waits
// for, every wait bounded. Then the program must end, and stdout, stderr and
// the exit status are compared; the server must have received nothing more.
// Only what the in-process tables cannot see is here: the command line, the
// exit status, signals and the stop's second for output, FIFOs and loop mode.
//
// In args, steps and err, "$S" stands for the server's ADDRESS:PORT and "$F"
// for the script: a file that holds the row's script, a FIFO that FEED
// writes to, or a file that is missing until WRITE_SCRIPT makes it. Stdout
// (unless the row makes it a full disk or a stalled pipe) and stderr are
// files, which get the program's output in blocks, written out before it
// sleeps.
//
// Other builds run the same rows: RCON_TEST_PROGRAM names the program and
// RCON_TEST_LAUNCHER what starts it: wine for the Windows build, qemu-user
// for another processor's, tools/in-image for the container image (the
// program is then the image). A row that a launcher cannot run says which
// and why.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback.h"

using namespace std::string_literals;

namespace {

enum script_kind { FILE_SCRIPT, FIFO_SCRIPT, NO_SCRIPT };
enum stdout_kind { STDOUT_FILE, FULL_DISK, STALLED_PIPE };  // a pipe of 4 KiB, unread

enum action {
  GET,           // the server receives the command datagram for text next
  REPLY,         // the server sends a console-output reply with text
  FEED,          // the user writes text to the FIFO
  WRITE_SCRIPT,  // the user makes the missing script, or replaces it, with text
  INTERRUPT,     // the user presses Ctrl+C
  TERMINATE,     // the system asks the program to stop: SIGTERM
  SEE,           // stdout so far is text
  SHOWN_AS,      // the command line, as the process list shows it, ends with text
  ENDS,          // the program ends within text seconds
  RUNS_ON,       // the program is still running text seconds later
};

struct step {
  action act;
  std::string text = "";
};

struct row {
  const char* name;
  std::vector<std::string> args;
  std::string script = "";
  script_kind script_is = FILE_SCRIPT;
  stdout_kind stdout_is = STDOUT_FILE;
  int pending_stop = 0;  // a stop signal that waits, blocked, as it starts
  std::vector<step> steps = {};
  std::string out = "";
  std::string err = "";
  int status = 0;
  // A launcher that cannot run the row: one whose path holds this ("": any
  // launcher), and why.
  const char* skipped_by = nullptr;
  const char* why = nullptr;
};
void PrintTo(const row& r, std::ostream* os) {
  *os << r.name;
}

// Every wait of a row is bounded: by then the program must have done it.
const int LONGEST_MS = 10000;

// Returns what the file at \a path holds, without the CRs of Windows.
std::string text_of(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(file),
                   std::istreambuf_iterator<char>()};
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// Returns \a text with each \a name in it replaced by \a value.
std::string replaced(std::string text, const std::string& name,
                     const std::string& value) {
  size_t at = text.find(name);
  while (at != text.npos) {
    text.replace(at, name.size(), value);
    at = text.find(name, at + value.size());
  }
  return text;
}

// One run of the program, killed if it outlives its row.
struct run {
  udp_peer server = udp_peer_open();
  sockaddr_in client{};  // where the program sends from
  std::string script = testing::TempDir() + "rcon-row-" + std::to_string(getpid());
  std::string out = script + ".out", err = script + ".err";
  int fifo = -1;
  int unread = -1;  // the end of a stalled stdout that nobody reads
  pid_t pid = 0;
  int status = -1;

  ~run() {
    if (pid > 0 && status == -1) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    close(fifo);
    close(unread);
    socket_shutdown_close(server.sock);
    for (const std::string& path : {script, out, err}) (void)remove(path.c_str());
  }

  // Returns \a text with "$S" and "$F" filled in.
  std::string filled_in(const std::string& text) const {
    return replaced(replaced(text, "$S", endpoint_of(server)), "$F", script);
  }

  // Returns true while the program runs; takes its exit status once it ends.
  bool running() {
    if (status == -1 && waitpid(pid, &status, WNOHANG) == pid) return false;
    return status == -1;
  }

  // Waits until \a done() is true or the program has ended, for \a limit at
  // most. Returns done().
  template <typename condition>
  bool wait_until(condition done, std::chrono::milliseconds limit =
                                      std::chrono::milliseconds(LONGEST_MS)) {
    auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
      // Looked at after the end, so that what came just before it counts.
      bool over = !running() || std::chrono::steady_clock::now() >= until;
      if (done()) return true;
      if (over) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  bool ended_within(std::chrono::milliseconds limit) {
    return wait_until([this] { return !running(); }, limit);
  }
};

// Starts the program as \a r says.
void start(run* p, const row& r) {
  ASSERT_NE(p->server.sock, RCON_NO_SOCKET);
  // Readable by any user, as a file; a FIFO that is not made fails the row's
  // first feed.
  if (r.script_is == FIFO_SCRIPT) (void)mkfifo(p->script.c_str(), 0644);
  if (r.script_is == FILE_SCRIPT)
    std::ofstream(p->script, std::ios::binary) << r.script;
  std::vector<std::string> args;
  if (getenv("RCON_TEST_LAUNCHER") != nullptr)
    args.push_back(getenv("RCON_TEST_LAUNCHER"));
  const char* program = getenv("RCON_TEST_PROGRAM");
  args.push_back(program != nullptr ? program : RCON_SCRIPT_EXE);
  std::transform(r.args.begin(), r.args.end(), std::back_inserter(args),
                 [p](const std::string& arg) { return p->filled_in(arg); });
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  std::transform(args.begin(), args.end(), std::back_inserter(argv),
                 [](std::string& arg) { return &arg[0]; });
  argv.push_back(nullptr);
  int out = -1;
  if (r.stdout_is == STALLED_PIPE) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(fcntl(ends[1], F_SETPIPE_SZ, 4096), 4096);
    p->unread = ends[0];
    out = ends[1];
  } else {
    const char* path = r.stdout_is == FULL_DISK ? "/dev/full" : p->out.c_str();
    out = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  int err = open(p->err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  p->pid = fork();
  if (p->pid == 0) {
    dup2(out, 1);
    dup2(err, 2);
    if (r.pending_stop != 0) {
      sigset_t blocked;
      sigemptyset(&blocked);
      sigaddset(&blocked, r.pending_stop);
      (void)sigprocmask(SIG_BLOCK, &blocked, nullptr);
      (void)raise(r.pending_stop);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out);
  close(err);
  if (r.script_is == FIFO_SCRIPT) p->fifo = open(p->script.c_str(), O_RDWR | O_CLOEXEC);
}

// Returns the seconds that \a text names, in milliseconds.
std::chrono::milliseconds milliseconds_in(const std::string& text) {
  return std::chrono::milliseconds(static_cast<long>(std::stod(text) * 1000));
}

// Takes the step \a s of a row.
void take(run* p, const step& s) {
  std::string got;
  switch (s.act) {
    case GET:
      p->wait_until([&] { return udp_receive(p->server, &got, 0, &p->client); });
      EXPECT_EQ(got, command(s.text));
      break;
    case REPLY:
      udp_send(p->server, reply_datagram(s.text), p->client);
      break;
    case FEED:
      ASSERT_EQ(write(p->fifo, s.text.data(), s.text.size()), ssize_t(s.text.size()));
      break;
    case WRITE_SCRIPT:
      std::ofstream(p->script, std::ios::binary) << s.text;
      break;
    case INTERRUPT:
      kill(p->pid, SIGINT);
      break;
    case TERMINATE:
      kill(p->pid, SIGTERM);
      break;
    case SEE:
      p->wait_until([&] { return text_of(p->out) == s.text; });
      EXPECT_EQ(text_of(p->out), s.text);
      break;
    case SHOWN_AS:
      got = text_of("/proc/" + std::to_string(p->pid) + "/cmdline");
      got.erase(0, got.size() - std::min(got.size(), p->filled_in(s.text).size()));
      EXPECT_EQ(got, p->filled_in(s.text));
      break;
    case ENDS:
      EXPECT_TRUE(p->ended_within(milliseconds_in(s.text)));
      break;
    case RUNS_ON:
      EXPECT_FALSE(p->ended_within(milliseconds_in(s.text)));
      break;
  }
}

// ------------------------------------------------------------- The rows

const char* const NATIVE =
    "wine cuts no write short, and a container's stdout is its log";
const char* const NO_PEEK = "wine cannot look into a FIFO without reading it";
const char* const OWN_COPY = "a launcher keeps a copy of the arguments of its own";
const char* const LOG = "in a container, standard output is the container's log";
const char* const OWN_SIGNALS = "a launcher takes the signals that wait as it starts";

std::vector<row> rows() {
  std::vector<std::string> once = {"$S", "pw", "once", "$F"};
  std::vector<std::string> loop = {"$S", "pw", "loop", "$F"};
  std::string cannot_read = "rcon-script: cannot read $F: No such file or directory\n";
  std::string not_sent = "rcon-script: command not sent: too long for one datagram\n";
  std::string too_long = "rcon " + std::string(1010, 'x') + "\n";
  std::string echo_1000 = "echo " + std::string(1000, 'x') + "\n";
  // clang-format off
  return {
    // The command line, and a single run's exit status and output: wrong
    // usage and an address that cannot be used end at once, silently.
    {.name = "ThreeArguments", .args = {"$S", "pw", "once"}, .status = 1},
    {.name = "AddressThatCannotBeUsed", .args = {"0.0.0.0:1", "pw", "once", "$F"}, .status = 1},
    // A command that cannot go out is said, once until one goes out again.
    {.name = "SingleRun", .args = once,
     .script = "echo hi\n" + too_long + too_long + "rcon x\n" + too_long,
     .steps = {{GET, "x"}}, .out = "hi\n", .err = not_sent + not_sent, .status = 1},
    {.name = "LostOutputIsReported", .args = once, .script = "echo lost\nrcon x\n",
     .stdout_is = FULL_DISK, .steps = {{GET, "x"}},
     .err = "rcon-script: write error: No space left on device\n", .status = 1,
     .skipped_by = "in-image", .why = LOG},
    {.name = "ScriptThatCannotBeReadFails", .args = once, .script_is = NO_SCRIPT,
     .err = cannot_read, .status = 1},
    // The process list shows every argument but the password, whose bytes
    // are zeros there, and every command still carries it.
    {.name = "ProcessListShowsNoPassword", .args = once, .script = "rcon a\nrcon b\nwait 30\n",
     .steps = {{GET, "a"}, {SHOWN_AS, "$S\0\0\0\0once\0$F\0"s}, {GET, "b"}, {INTERRUPT}},
     .skipped_by = "", .why = OWN_COPY},
    // A stop during set-up ends the run before its first pass. SIGABRT asks
    // for a stop as SIGINT and SIGTERM do.
    {.name = "StopDuringSetUpSendsNothing", .args = loop, .script = "rcon a\n",
     .pending_stop = SIGABRT, .steps = {{ENDS, "1"}}, .skipped_by = "", .why = OWN_SIGNALS},
    // A stop: the line in hand is finished, the output written, status 0;
    // what was printed before a wait is written out while it waits, and the
    // longest wait lasts until the stop.
    {.name = "InterruptEndsAWait", .args = once,
     .script = "echo before\nrcon sync\nwait 2147483647\necho after\nrcon after\n",
     .steps = {{GET, "sync"}, {SEE, "before\n"}, {INTERRUPT}, {ENDS, "1"}}, .out = "before\n"},
    // A stop gives output that nobody takes a second from the first stop,
    // then says that it was lost.
    {.name = "StopGivesStalledOutputASecond", .args = once,
     .script = echo_1000 + echo_1000 + echo_1000 + echo_1000 + echo_1000 + "wait 30\n",
     .stdout_is = STALLED_PIPE,
     .steps = {{RUNS_ON, "0.2"}, {TERMINATE}, {RUNS_ON, "0.6"}, {INTERRUPT}, {ENDS, "0.9"}},
     .err = "rcon-script: output not taken within a second of the stop: lost\n", .status = 1,
     .skipped_by = "", .why = NATIVE},
    // A script from a FIFO: each line is acted on as it comes, the server's
    // replies are printed while the next is awaited, and a stop ends that
    // wait.
    {.name = "FifoLinesAreActedOnAsTheyCome", .args = once, .script_is = FIFO_SCRIPT,
     .steps = {{FEED, "rcon one\n"}, {GET, "one"}, {REPLY, "r1\n"}, {SEE, "r1\n"},
               {FEED, "echo 2\n"}, {SEE, "r1\n2\n"}, {INTERRUPT}, {ENDS, "1"}},
     .out = "r1\n2\n", .skipped_by = "wine", .why = NO_PEEK},
    // Loop mode: what could not be read or sent is said, once, and a stop
    // still ends the run with status 0. Each pass reads the script afresh,
    // half a second after the last began.
    {.name = "LoopKeepsTryingAndReadsTheScriptAfreshEachPass", .args = loop,
     .script_is = NO_SCRIPT,
     .steps = {{RUNS_ON, "1.2"}, {WRITE_SCRIPT, too_long + "rcon a\n"}, {GET, "a"},
               {WRITE_SCRIPT, "rcon b\n"}, {GET, "b"}, {RUNS_ON, "0.3"}, {GET, "b"},
               {INTERRUPT}},
     .err = cannot_read + not_sent},
  };
  // clang-format on
}

class Program : public testing::TestWithParam<row> {};

TEST_P(Program, Runs) {
  const row& r = GetParam();
  const char* launcher = getenv("RCON_TEST_LAUNCHER");
  if (r.why != nullptr && launcher != nullptr &&
      strstr(launcher, r.skipped_by) != nullptr)
    GTEST_SKIP() << r.why;
  run p;
  ASSERT_NO_FATAL_FAILURE(start(&p, r));
  for (const step& s : r.steps) ASSERT_NO_FATAL_FAILURE(take(&p, s));
  ASSERT_TRUE(p.ended_within(std::chrono::milliseconds(LONGEST_MS))) << "still running";
  int status = WIFEXITED(p.status) ? WEXITSTATUS(p.status) : 128 + WTERMSIG(p.status);
  EXPECT_EQ(status, r.status);
  EXPECT_EQ(text_of(p.out), r.out);
  EXPECT_EQ(text_of(p.err), p.filled_in(r.err));
  std::string more;
  EXPECT_FALSE(udp_receive(p.server, &more, 0)) << "also sent: " << more;
}

INSTANTIATE_TEST_SUITE_P(Rows, Program, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<row>& r) {
                           return r.param.name;
                         });

}  // namespace
