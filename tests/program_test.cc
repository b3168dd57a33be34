// The program as its users meet it: each row starts the real program with a
// script, against a stand-in server on a loopback port, plays the server and
// the user while it runs, and checks what the server received, what came out
// on stdout and stderr, and the exit status. Only what the in-process tables
// cannot see is here: the command line, the exit status, the kinds of
// stdout, signals, FIFOs and loop mode.
//
// A row names its fields. In args, "$S" stands for the server's ADDRESS:PORT
// and "$F" for the script: a file that holds script, a FIFO that feed()
// writes to, or a file that is missing until write_script() makes it. Stdout is a file
// unless stdout_is says otherwise; stderr is a file. Each step is one thing that the
// server or the user does, or waits for: what the server receives and what stdout
// shows, never the clock alone. Then the program must end, and stdout, stderr and the
// exit status are compared; the server must have received nothing more.
//
// The Windows build runs the same rows under wine: RCON_TEST_PROGRAM names
// it and RCON_TEST_LAUNCHER the wine that starts it. A row that Windows
// cannot run says why in not_under_wine. Stdout and stderr are compared
// without the CRs that wine and terminals add, and without wine's console
// escapes.
#include <ctype.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback.h"

namespace {

// What stdout is: a file; a terminal; a pipe that nobody reads until the
// program has ended; the full disk; or closed.
enum output_kind { FILE_OUT, TERMINAL, STALLED_PIPE, FULL, CLOSED };
enum script_kind { FILE_SCRIPT, FIFO_SCRIPT, NO_SCRIPT };

// Every wait of a row is bounded: by then the program must have done it.
const int LONGEST_MS = 10000;

// Sleeps for a millisecond, between two looks at what a row waits for.
void nap() {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Returns \a text without CRs, and without the escape sequences (ESC, "[",
// then all up to a letter) that wine's console writes to a terminal.
std::string as_meant(const std::string& text) {
  std::string meant;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\x1B') {
      while (i < text.size() && !isalpha(static_cast<unsigned char>(text[i]))) i++;
    } else if (text[i] != '\r') {
      meant += text[i];
    }
  }
  return meant;
}

// One run of the program, killed with all it started if it outlives its row.
struct run {
  udp_peer server = udp_peer_open();
  sockaddr_in client{};  // where the program sends from
  std::string script = testing::TempDir() + "rcon-row-" + std::to_string(getpid());
  std::string out = script + ".out", err = script + ".err";
  int reader = -1;  // of the terminal or the stalled pipe, copied to out
  int fifo = -1;
  pid_t pid = 0;  // also its process group
  int status = -1;

  ~run() {
    if (pid > 0 && status == -1) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    for (int fd : {reader, fifo}) close(fd);
    socket_shutdown_close(server.sock);
    for (const std::string& path : {script, out, err}) (void)remove(path.c_str());
  }

  // Returns true while the program runs; takes its exit status once it ends.
  bool running() {
    if (status == -1 && waitpid(pid, &status, WNOHANG) == pid) return false;
    return status == -1;
  }

  // Returns true if the program has ended within \a limit.
  bool ends_within(std::chrono::duration<double> limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (running() && std::chrono::steady_clock::now() < until) nap();
    return !running();
  }

  // Returns what the program wrote to \a path (and through the reader, for
  // stdout), without CRs and console escapes.
  std::string text_of(const std::string& path) {
    int unread = 0;
    if (path == out && reader >= 0) ioctl(reader, FIONREAD, &unread);
    if (unread > 0) {
      char buf[65536];
      ssize_t n = read(reader, buf, sizeof buf);
      if (n > 0) std::ofstream(out, std::ios::binary | std::ios::app).write(buf, n);
    }
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return as_meant(text.str());
  }

  // Waits until \a fd, a pipe or FIFO, holds \a bytes unread.
  void wait_until_unread(int fd, int bytes) {
    auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(LONGEST_MS);
    int unread = -1;
    while (unread != bytes && running() && std::chrono::steady_clock::now() < until) {
      ASSERT_EQ(ioctl(fd, FIONREAD, &unread), 0);
      nap();
    }
    EXPECT_EQ(unread, bytes);
  }
};

typedef std::function<void(run*)> step;

// The server receives the command datagram for \a text next.
step get(const std::string& text) {
  return [=](run* p) {
    std::string got;
    for (int waited = 0; waited < LONGEST_MS; waited += 20) {
      bool ended = !p->running();  // then all that it sent is there
      if (udp_receive(p->server, &got, 20, &p->client)) break;
      if (ended) break;
    }
    EXPECT_EQ(got, command(text));
  };
}

// The server sends a console-output reply with \a text.
step reply(const std::string& text) {
  return [=](run* p) { udp_send(p->server, reply_datagram(text), p->client); };
}

// The user writes \a text to the FIFO; the program reads all of it.
step feed(const std::string& text) {
  return [=](run* p) {
    ASSERT_EQ(write(p->fifo, text.data(), text.size()), ssize_t(text.size()));
    p->wait_until_unread(p->fifo, 0);
  };
}

// The user makes the missing script, holding \a text.
step write_script(const std::string& text) {
  return [=](run* p) { std::ofstream(p->script, std::ios::binary) << text; };
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

// Stdout so far is \a text, once what may still grow into it has come.
step see(const std::string& text) {
  return [=](run* p) {
    auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(LONGEST_MS);
    std::string seen = p->text_of(p->out);
    while (seen != text && text.compare(0, seen.size(), seen) == 0 && p->running() &&
           std::chrono::steady_clock::now() < until) {
      nap();
      seen = p->text_of(p->out);
    }
    EXPECT_EQ(p->text_of(p->out), text);
  };
}

// The stalled pipe is full.
step stall() {
  return
      [](run* p) { p->wait_until_unread(p->reader, fcntl(p->reader, F_GETPIPE_SZ)); };
}

// The program has ended \a seconds from now; or (runs_for) it has not.
step ends_within(double seconds) {
  return [=](run* p) {
    EXPECT_TRUE(p->ends_within(std::chrono::duration<double>(seconds)));
  };
}
step runs_for(double seconds) {
  return [=](run* p) {
    EXPECT_FALSE(p->ends_within(std::chrono::duration<double>(seconds)));
  };
}

struct row {
  const char* name;
  std::vector<std::string> args;
  std::string script = "";
  script_kind script_is = FILE_SCRIPT;
  output_kind stdout_is = FILE_OUT;
  std::vector<step> steps = {};
  std::string out = "";
  std::string err = "";
  int status = 0;  // 128 + N for death by signal N
  const char* not_under_wine = nullptr;
};
void PrintTo(const row& r, std::ostream* os) {
  *os << r.name;
}

// Returns a descriptor for stdout of the \a kind, or -1 for none; sets
// \a p's reader where there is one.
int open_stdout(run* p, output_kind kind) {
  int ends[2] = {-1, -1};
  switch (kind) {
    case FILE_OUT:
      return open(p->out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    case TERMINAL:
      p->reader = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      unlockpt(p->reader);
      return open(ptsname(p->reader), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    case STALLED_PIPE:
      if (pipe2(ends, O_CLOEXEC) == 0) p->reader = ends[0];
      return ends[1];
    case FULL:
      return open("/dev/full", O_WRONLY | O_CLOEXEC);
    case CLOSED:
      break;
  }
  return -1;
}

// Starts the program as \a r says, in a process group of its own, with "$S"
// and "$F" filled in.
void start(run* p, const row& r) {
  ASSERT_NE(p->server.sock, RCON_NO_SOCKET);
  if (r.script_is == FIFO_SCRIPT) {
    ASSERT_EQ(mkfifo(p->script.c_str(), 0600), 0);
  }
  if (r.script_is == FILE_SCRIPT)
    std::ofstream(p->script, std::ios::binary) << r.script;
  const char* program = getenv("RCON_TEST_PROGRAM");
  std::vector<std::string> args = {program != nullptr ? program : RCON_SCRIPT_EXE};
  if (getenv("RCON_TEST_LAUNCHER") != nullptr) {
    args.insert(args.begin(), getenv("RCON_TEST_LAUNCHER"));
  }
  std::string endpoint = "127.0.0.1:" + std::to_string(ntohs(p->server.addr.sin_port));
  for (const std::string& arg : r.args) {
    if (arg == "$S") {
      args.push_back(endpoint);
    } else if (arg == "$F") {
      args.push_back(p->script);
    } else {
      args.push_back(arg);
    }
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  std::transform(args.begin(), args.end(), std::back_inserter(argv),
                 [](std::string& arg) { return &arg[0]; });
  argv.push_back(nullptr);
  int out = open_stdout(p, r.stdout_is);
  int err = open(p->err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  p->pid = fork();
  if (p->pid == 0) {
    setpgid(0, 0);
    dup2(null, 0);
    close(1);
    dup2(out, 1);  // stays closed without one
    dup2(err, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  for (int fd : {out, err, null}) close(fd);
  if (r.script_is == FIFO_SCRIPT) p->fifo = open(p->script.c_str(), O_RDWR | O_CLOEXEC);
}

// ------------------------------------------------------------- The rows

const char* const STOP = "echo before\nrcon sync\nwait 30\necho after\nrcon after\n";
const char* const LOST = "rcon-script: write error: Interrupted system call\n";
const char* const CANNOT_READ =
    "rcon-script: cannot read $F: No such file or directory\n";
const char* const NO_KILL = "Windows cannot send SIGTERM or SIGABRT to another process";
const char* const NO_HANGUP = "wine turns Unix signals into its own events";
const char* const NO_CUT = "on Windows a stop waits for the pipe's next line";
const char* const NO_UNBLOCK = "Windows cannot cut a blocked write short";

std::vector<row> rows() {
  std::vector<std::string> once = {"$S", "pw", "once", "$F"};
  std::vector<std::string> loop = {"$S", "pw", "loop", "$F"};
  // Echo lines that print more than a pipe holds, and what fills the pipe.
  std::string echoes = "rcon sync\n", printed;
  for (int i = 0; i < 1000; i++) {
    echoes += "echo " + std::string(99, 'x') + "\n";
    printed += std::string(99, 'x') + "\n";
  }
  std::string full_pipe = printed.substr(0, 65536);
  // clang-format off
  return {
    // The command line and the exit status.
    {.name = "ThreeArguments", .args = {"$S", "pw", "once"}, .status = 1},
    {.name = "FiveArguments", .args = {"$S", "pw", "once", "$F", "x"}, .script = "rcon x\n",
     .status = 1},
    {.name = "LoopInCapitalsIsNoLoop", .args = {"$S", "pw", "LOOP", "$F"},
     .script = "rcon x\n", .steps = {get("x")}},
    {.name = "LoopyIsNoLoop", .args = {"$S", "pw", "loopy", "$F"}, .script = "rcon x\n",
     .steps = {get("x")}},
    // Stdout.
    {.name = "TerminalSeesEachPrintAtOnce", .args = once,
     .script = "echo shown\nrcon a\nwait 30\n", .stdout_is = TERMINAL,
     .steps = {get("a"), see("shown\n"), reply("reply"), see("shown\nreply"), signal(SIGINT)},
     .out = "shown\nreply"},
    {.name = "FileGetsWholeBlocks", .args = once, .script = "echo held\nrcon a\nwait 30\n",
     .steps = {get("a"), see(""), signal(SIGINT)}, .out = "held\n"},
    {.name = "FullDiskIsReported", .args = once, .script = "rcon a\necho lost\nrcon b\n",
     .stdout_is = FULL, .steps = {get("a"), get("b")},
     .err = "rcon-script: write error: No space left on device\n", .status = 1},
    {.name = "ClosedStdoutIsReported", .args = once, .script = "rcon a\necho lost\nrcon b\n",
     .stdout_is = CLOSED, .steps = {get("a"), get("b")},
     .err = "rcon-script: write error: Bad file descriptor\n", .status = 1},
    {.name = "StopEndsAStalledPipe", .args = once, .script = echoes,
     .stdout_is = STALLED_PIPE, .steps = {stall(), get("sync"), signal(SIGTERM), ends_within(2)},
     .out = full_pipe, .err = LOST, .status = 1, .not_under_wine = NO_UNBLOCK},
    {.name = "StopsThatFollowDoNotPutOffTheEnd", .args = once, .script = echoes,
     .stdout_is = STALLED_PIPE,
     .steps = {stall(), get("sync"), signal(SIGTERM), runs_for(0.6), signal(SIGTERM),
               ends_within(0.8)},
     .out = full_pipe, .err = LOST, .status = 1, .not_under_wine = NO_UNBLOCK},
    // Stopping.
    {.name = "InterruptsEndAWaitInOrder", .args = once, .script = STOP,
     .steps = {get("sync"), signal(SIGINT, 1000), ends_within(1)}, .out = "before\n"},
    {.name = "TerminationAndAbortToo", .args = once, .script = STOP,
     .steps = {get("sync"), signal(SIGTERM), signal(SIGABRT), ends_within(1)},
     .out = "before\n", .not_under_wine = NO_KILL},
    {.name = "OtherSignalsKeepTheirDefaultAction", .args = once, .script = STOP,
     .steps = {get("sync"), signal(SIGHUP)}, .status = 128 + SIGHUP,
     .not_under_wine = NO_HANGUP},
    {.name = "StopWhileWaitingForALine", .args = once, .script_is = FIFO_SCRIPT,
     .steps = {feed("echo before\nrcon sync\n"), get("sync"), signal(SIGINT), ends_within(1)},
     .out = "before\n", .not_under_wine = NO_CUT},
    {.name = "StopWhileWaitingForAWriter", .args = loop, .script_is = FIFO_SCRIPT,
     .steps = {feed("rcon a\n"), get("a"), end_script(), runs_for(0.7), signal(SIGINT),
               ends_within(1)}},
    // Scripts that are not plain files, and loop mode.
    {.name = "FifoLinesAreTakenAsTheyCome", .args = once, .script_is = FIFO_SCRIPT,
     .steps = {feed("\xEF"), feed("\xBB\xBF"), feed("rcon one\n"), get("one"), reply("r\n"),
               feed("rcon two\r"), feed("\n"), get("two"), feed("echo 3"), end_script()},
     .out = "r\n3\n"},
    {.name = "NoDrainAfterTheLastLine", .args = once, .script_is = FIFO_SCRIPT, .stdout_is = TERMINAL,
     .steps = {feed("rcon a\necho x\n"), get("a"), see("x\n"), reply("late\n"), end_script()},
     .out = "x\n"},
    {.name = "ScriptThatCannotBeReadFails", .args = once, .script_is = NO_SCRIPT,
     .err = CANNOT_READ, .status = 1},
    {.name = "LoopSaysSoOnceAndKeepsTrying", .args = loop, .script_is = NO_SCRIPT,
     .steps = {runs_for(1.2), write_script("rcon a\n"), get("a"), signal(SIGINT)},
     .err = CANNOT_READ},
    {.name = "LoopReadsTheScriptAfreshEveryPass", .args = loop,
     .script = "\xEF\xBB\xBFrcon a\n\xEF\xBB\xBFrcon b\nwait 2\n",
     .steps = {get("a"), get("a"), signal(SIGINT)}},
  };
  // clang-format on
}

class Program : public testing::TestWithParam<row> {};

TEST_P(Program, Runs) {
  const row& r = GetParam();
  if (r.not_under_wine != nullptr && getenv("RCON_TEST_LAUNCHER") != nullptr) {
    GTEST_SKIP() << r.not_under_wine;
  }
  run p;
  ASSERT_NO_FATAL_FAILURE(start(&p, r));
  for (const step& s : r.steps) ASSERT_NO_FATAL_FAILURE(s(&p));
  ASSERT_TRUE(p.ends_within(std::chrono::milliseconds(LONGEST_MS))) << "still running";
  int status = WIFEXITED(p.status) ? WEXITSTATUS(p.status) : 128 + WTERMSIG(p.status);
  EXPECT_EQ(status, r.status);
  EXPECT_EQ(p.text_of(p.out), r.out);
  std::string err = r.err;
  size_t script_at = err.find("$F");
  if (script_at != err.npos) err.replace(script_at, 2, p.script);
  EXPECT_EQ(p.text_of(p.err), err);
  std::string more;
  EXPECT_FALSE(udp_receive(p.server, &more, 0)) << "also sent: " << more;
}

INSTANTIATE_TEST_SUITE_P(Rows, Program, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<row>& r) {
                           return r.param.name;
                         });

}  // namespace
