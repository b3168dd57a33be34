// Measures rcon-script, all on loopback, and checks its targets:
//   rcon_bench PROGRAM FLOOR DATA_DIR [short|full] [WINDOWS_EXE [WINE]]
// prints a Markdown report on stdout, writes DATA_DIR/per_line.dat for the
// plot, and exits with status 1 if a target is missed. Every target is a
// ratio or a count, not a time on the clock. The full run takes minutes;
// the short one, which CI runs, about ten seconds and leaves out the costs
// per line, which need long scripts.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback.h"

extern char** environ;

namespace {

const char* program_path;
std::string data_dir;
long peak_rss_kib = 0;

// The targets, filled in as the sections run, then printed as a table.
struct target {
  std::string what, measured;
  bool met;
};
std::vector<target> targets;

void check(const std::string& what, const std::string& measured, bool met) {
  targets.push_back({what, measured, met});
}

std::string format(const char* fmt, double value) {
  char text[64];
  (void)snprintf(text, sizeof text, fmt, value);
  return text;
}

double now_s() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(std::lround(p * static_cast<double>(v.size() - 1)));
  return v[i];
}

// A UDP socket bound to 127.0.0.1 on a port the kernel picks; the bench
// cannot go on without one.
int bound_socket(sockaddr_in* addr) {
  udp_peer peer = udp_peer_open();
  if (peer.sock < 0) {
    perror("bind");
    exit(1);
  }
  *addr = peer.addr;
  return peer.sock;
}

// Returns "ip:port" for \a addr, as rcon-script takes it.
std::string endpoint_text(const sockaddr_in& addr) {
  return std::string(inet_ntoa(addr.sin_addr)) + ":" +
         std::to_string(ntohs(addr.sin_port));
}

std::string write_script(const std::string& name, const std::string& line, long count) {
  std::string path = data_dir + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  for (long i = 0; i < count; i++) (void)fputs(line.c_str(), f);
  (void)fclose(f);
  return path;
}

struct run {
  pid_t pid;
  double started;
};

run spawn(const std::vector<std::string>& args, const char* out = "/dev/null") {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  std::transform(args.begin(), args.end(), std::back_inserter(argv),
                 [](const std::string& a) { return const_cast<char*>(a.c_str()); });
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  run r = {0, now_s()};
  if (posix_spawnp(&r.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    perror("spawn");
    exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

run start(const sockaddr_in& server, const std::string& script,
          const char* out = "/dev/null", const char* mode = "once") {
  return spawn({program_path, endpoint_text(server), "secret", mode, script}, out);
}

// Returns what the file at \a path holds.
std::string file_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file),
                     std::istreambuf_iterator<char>());
}

// Returns the number after \a key in the file at \a path (at its start when
// \a key is empty), or 0.
long proc_number(const std::string& path, const char* key) {
  FILE* f = fopen(path.c_str(), "r");
  char line[256];
  long n = 0;
  while (f && fgets(line, sizeof line, f)) {
    size_t k = strlen(key);
    if (strncmp(line, key, k) == 0) {
      n = strtol(line + k, nullptr, 10);
      break;
    }
  }
  if (f) (void)fclose(f);
  return n;
}

// Returns the peak resident set of \a pid's own program so far, in KiB.
// (ru_maxrss would also count the spawning process's memory before exec.)
long vm_hwm_kib(pid_t pid) {
  return proc_number("/proc/" + std::to_string(pid) + "/status", "VmHWM:");
}

// Waits for the run; returns its wall time and puts its CPU time in *cpu_s.
// With \a watch_rss it also looks at the peak RSS every 2 ms, which blurs the
// wall time by as much: timed runs leave it off.
double finish(const run& r, double* cpu_s = nullptr, bool watch_rss = false) {
  int status;
  rusage u;
  while (watch_rss && wait4(r.pid, &status, WNOHANG, &u) != r.pid) {
    peak_rss_kib = std::max(peak_rss_kib, vm_hwm_kib(r.pid));
    timespec nap = {0, 2000000L};
    nanosleep(&nap, nullptr);
  }
  if (!watch_rss) wait4(r.pid, &status, 0, &u);
  double wall = now_s() - r.started;
  if (cpu_s)
    *cpu_s = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
  return wall;
}

const char* floor_path;

// Runs the floor program on \a script; with \a poll_each, reference (b).
double reference(const sockaddr_in& server, const std::string& script, bool poll_each) {
  std::vector<std::string> args = {floor_path, endpoint_text(server), script};
  if (poll_each) args.push_back("poll");
  return finish(spawn(args));
}

void per_line_costs(const sockaddr_in& sink) {
  std::vector<long> sizes = {10000, 100000, 1000000};
  FILE* dat = fopen((data_dir + "/per_line.dat").c_str(), "w");
  printf("## Cost per \"rcon \" line\n\n");
  printf(
      "Median of 9 runs (5 for 1M lines) after one untimed run, wall time over the "
      "whole run, start-up included. Each of the three is a process of its own, "
      "started the same way; the references are `bench/floor.cc`.\n\n");
  printf(
      "| lines | rcon-script | (a) sendto loop | (b) + poll per line | vs (a) | "
      "vs (b) |\n|---:|---:|---:|---:|---:|---:|\n");
  std::vector<double> total_p, total_b, per_line_p;
  for (long n : sizes) {
    std::string script = write_script("rcon-" + std::to_string(n) + ".script",
                                      "rcon say benchmark line\n", n);
    int reps = n >= 1000000 ? 5 : 9;
    std::vector<double> prog, a, b;
    // One run of each first, untimed, so that no timed run pays for a cold
    // cache; the program's also gives its peak RSS.
    finish(start(sink, script), nullptr, true);
    reference(sink, script, true);
    for (int i = 0; i < reps; i++) {
      prog.push_back(finish(start(sink, script)));
      a.push_back(reference(sink, script, false));
      b.push_back(reference(sink, script, true));
    }
    double p = median(prog) / static_cast<double>(n) * 1e9;
    double ra = median(a) / static_cast<double>(n) * 1e9;
    double rb = median(b) / static_cast<double>(n) * 1e9;
    printf("| %ld | %.0f ns | %.0f ns | %.0f ns | %.3f | %.3f |\n", n, p, ra, rb,
           p / ra, p / rb);
    (void)fprintf(dat, "%ld %.1f %.1f %.1f\n", n, p, ra, rb);
    (void)remove(script.c_str());
    total_p.push_back(median(prog));
    total_b.push_back(median(b));
    per_line_p.push_back(p);
  }
  (void)fclose(dat);
  // The cost of one more line, start-up left out: the slope between the
  // smallest and the largest script.
  double span = static_cast<double>(sizes.back() - sizes.front());
  double slope_p = (total_p.back() - total_p.front()) / span * 1e9;
  double slope_b = (total_b.back() - total_b.front()) / span * 1e9;
  double fixed_p_ms =
      (total_p.front() - slope_p * 1e-9 * static_cast<double>(sizes.front())) * 1e3;
  double fixed_b_ms =
      (total_b.front() - slope_b * 1e-9 * static_cast<double>(sizes.front())) * 1e3;
  double ratio = slope_p / slope_b;
  double scaling = per_line_p.back() / per_line_p[1];
  printf(
      "\nCost of one more line (slope from %ld to %ld lines): rcon-script %.0f ns, "
      "(b) %.0f ns, ratio %.3f. Fixed cost of a run (process start-up and set-up): "
      "rcon-script %.2f ms, (b) %.2f ms.\n",
      sizes.front(), sizes.back(), slope_p, slope_b, ratio, fixed_p_ms, fixed_b_ms);
  check("cost per line at most 1.05 x (b), start-up left out", format("%.3f x", ratio),
        ratio <= 1.05);
  check("linear scaling: per-line cost at the largest script within 10% of 100k's",
        format("%.3f", scaling), scaling >= 0.9 && scaling <= 1.1);
}

void echo_cost(const sockaddr_in& sink) {
  long n = 100000;
  std::string script = write_script("echo.script", "echo benchmark line\n", n);
  std::vector<double> t;
  t.reserve(5);
  for (int i = 0; i < 5; i++) t.push_back(finish(start(sink, script)));
  printf(
      "\n## Cost per \"echo \" line\n\n%ld lines to /dev/null: %.0f ns a line "
      "(median of 5; each line also drains).\n",
      n, median(t) / static_cast<double>(n) * 1e9);
  (void)remove(script.c_str());
}

// Returns how long each of \a runs stops took, from SIGINT until the exit is
// collected, the signals landing at evenly spread points of the half-second
// pause cycle. \a prog starts the program. With \a fifo the script comes
// from a FIFO whose writer stays open, so the stop lands while the program
// waits for its next line; otherwise during a wait.
std::vector<double> stop_times(int runs, const std::vector<std::string>& prog,
                               bool fifo) {
  sockaddr_in server;
  int fd = bound_socket(&server);
  std::string script = data_dir + "/stop.fifo";
  (void)remove(script.c_str());
  if (!fifo) script = write_script("stop.script", "rcon sync\nwait 30\n", 1);
  if (fifo && mkfifo(script.c_str(), 0600) != 0) exit(1);
  std::vector<double> ms;
  for (int i = 0; i < runs; i++) {
    std::vector<std::string> args = prog;
    args.insert(args.end(), {endpoint_text(server), "secret", "once", script});
    run r = spawn(args);
    int writer = fifo ? open(script.c_str(), O_WRONLY) : -1;
    if (fifo && write(writer, "rcon sync\n", 10) != 10) exit(1);
    char buf[2048];
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) exit(1);
    recv(fd, buf, sizeof buf, 0);
    timespec nap = {0, (i * 500L / runs) * 1000000L};
    nanosleep(&nap, nullptr);
    double t0 = now_s();
    kill(r.pid, SIGINT);
    finish(r);
    ms.push_back((now_s() - t0) * 1e3);
    if (writer >= 0) close(writer);
  }
  close(fd);
  return ms;
}

// Reports the stops of \a ms and checks that none waited for the end of a
// half-second pause: a stop must cut the pause short.
void stop_row(const char* program, const char* where, const std::vector<double>& ms) {
  printf("| %s | %s | %zu | %.2f ms | %.2f ms | %.2f ms |\n", program, where, ms.size(),
         percentile(ms, 0.5), percentile(ms, 0.95),
         *std::max_element(ms.begin(), ms.end()));
  long late = std::count_if(ms.begin(), ms.end(), [](double m) { return m >= 250; });
  check(std::string(program) + ", " + where + ": stops that took half a pause",
        format("%.0f", static_cast<double>(late)), late == 0);
}

void stop_latency(int runs, const std::vector<std::string>& windows) {
  printf(
      "\n## Stop latency\n\nSIGINT until the exit is collected, the signals landing "
      "at evenly spread points of the half-second pause cycle.\n\n"
      "| program | where the stop lands | runs | p50 | p95 | max |\n"
      "|---|---|---:|---:|---:|---:|\n");
  stop_row("rcon-script", "in a wait", stop_times(runs, {program_path}, false));
  stop_row("rcon-script", "waiting for a line from a FIFO",
           stop_times(runs, {program_path}, true));
  if (windows.empty()) return;
  stop_row("rcon-script.exe under wine", "in a wait", stop_times(runs, windows, false));
}

// Returns the CPU seconds of a run of \a script that ends by itself.
double cpu_of(const sockaddr_in& server, const std::string& script) {
  double cpu = 0;
  finish(start(server, script), &cpu);
  return cpu;
}

// A wait of \a seconds: the CPU that it takes beyond a run of an empty
// script, which is start-up, as a share of one core.
void wait_cpu(int seconds) {
  sockaddr_in sink;
  int fd = bound_socket(&sink);
  std::string empty = write_script("empty.script", "", 1);
  std::string wait =
      write_script("wait.script", "wait " + std::to_string(seconds) + "\n", 1);
  double start_up = cpu_of(sink, empty);
  double cpu = 0;
  double wall = finish(start(sink, wait), &cpu);
  double percent = std::max(0.0, cpu - start_up) / wall * 100;
  printf(
      "\n## CPU time during a wait\n\n`wait %d`: %.2f ms of CPU in %.1f s, of which "
      "%.2f ms start-up (an empty script's run): %.4f%% of one core.\n",
      seconds, cpu * 1e3, wall, start_up * 1e3, percent);
  check("CPU during a wait at most 0.1%", format("%.4f%%", percent), percent <= 0.1);
  close(fd);
}

// Returns how many descriptors \a pid has open.
long open_descriptors(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
  long count = 0;
  struct stat st;
  for (int fd = 0; fd < 1024; fd++) {
    if (stat((dir + std::to_string(fd)).c_str(), &st) == 0) count++;
  }
  return count;
}

long resident_kib(pid_t pid) {
  return proc_number("/proc/" + std::to_string(pid) + "/status", "VmRSS:");
}

// Loop mode for \a seconds, over a script of one command and over a script
// that is missing: passes come at most twice a second, so the server gets no
// flood and no core burns; descriptors and memory stay as they were.
void loop_mode(int seconds) {
  sockaddr_in server;
  int fd = bound_socket(&server);
  std::string one = write_script("loop.script", "rcon status\n", 1);
  printf(
      "\n## Loop mode\n\nFor %d s after the first pass; then SIGINT.\n\n"
      "| script | commands sent | CPU | descriptors | resident |\n"
      "|---|---:|---:|---:|---:|\n",
      seconds);
  for (const std::string& script : {one, data_dir + "/missing.script"}) {
    run r = start(server, script, "/dev/null", "loop");
    timespec first_pass = {0, 300000000L};
    nanosleep(&first_pass, nullptr);
    long fds = open_descriptors(r.pid);
    long rss = resident_kib(r.pid);
    timespec rest = {seconds, 0};
    nanosleep(&rest, nullptr);
    long fds_grown = open_descriptors(r.pid) - fds;
    long rss_grown = resident_kib(r.pid) - rss;
    kill(r.pid, SIGINT);
    double cpu = 0;
    double wall = finish(r, &cpu);
    long commands = 0;
    char buf[2048];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) commands++;
    bool missing = script != one;
    printf("| %s | %ld | %.3f%% | %+ld | %+ld KiB |\n",
           missing ? "missing" : "`rcon status`", commands, cpu / wall * 100, fds_grown,
           rss_grown);
    std::string what = missing ? "loop, missing script: " : "loop, one command: ";
    check(what + "CPU at most 1%", format("%.3f%%", cpu / wall * 100),
          cpu <= wall / 100);
    check(what + "no descriptor kept", format("%+.0f", static_cast<double>(fds_grown)),
          fds_grown == 0);
    check(what + "resident memory grows by at most 128 KiB",
          format("%+.0f KiB", static_cast<double>(rss_grown)), rss_grown <= 128);
    long most = static_cast<long>(wall * 2) + 1;
    if (!missing) {
      check(what + "at most two passes a second",
            format("%.0f", static_cast<double>(commands)), commands <= most);
    }
  }
  close(fd);
}

// 1000 replies of 100 characters during a pause: all of them are printed,
// in order, where the system grants the 1 MiB receive buffer that the program
// asks for.
void burst() {
  sockaddr_in server;
  int fd = bound_socket(&server);
  std::string script = write_script("burst.script", "rcon a\nwait 2\n", 1);
  std::string out = data_dir + "/burst.out";
  run r = start(server, script, out.c_str());
  char buf[2048];
  sockaddr_in client;
  socklen_t len = sizeof client;
  recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&client), &len);
  std::string expected;
  for (int i = 0; i < 1000; i++) {
    std::string text = "reply " + std::to_string(i) + std::string(88, 'x') + "\n";
    expected += text;
    std::string datagram = "\xFF\xFF\xFF\xFFprint\n" + text;
    sendto(fd, datagram.data(), datagram.size(), 0,
           reinterpret_cast<sockaddr*>(&client), sizeof client);
  }
  finish(r, nullptr, true);
  std::string printed = file_text(out);
  long lost = static_cast<long>(std::count(expected.begin(), expected.end(), '\n') -
                                std::count(printed.begin(), printed.end(), '\n'));
  bool granted =
      geteuid() == 0 || proc_number("/proc/sys/net/core/rmem_max", "") >= 1 << 20;
  printf(
      "\n## A burst of replies\n\n1000 replies of 100 characters during a pause: %ld "
      "lost, %s.\n",
      lost,
      printed == expected ? "the rest whole and in order" : "the rest NOT as sent");
  if (granted)
    check("a burst of 1000 replies: replies lost",
          format("%.0f", static_cast<double>(lost)), lost == 0 && printed == expected);
  close(fd);
}

// Returns the largest burst of 100-byte replies that a socket holds whole
// while nobody reads it; \a option and \a bytes set its receive buffer.
long burst_held(int option, int bytes) {
  long lo = 1, hi = 100000;
  while (lo < hi) {
    long mid = (lo + hi + 1) / 2;
    sockaddr_in addr;
    int rx = bound_socket(&addr);
    if (option) setsockopt(rx, SOL_SOCKET, option, &bytes, sizeof bytes);
    int tx = socket(AF_INET, SOCK_DGRAM, 0);
    std::string reply =
        std::string("\xFF\xFF\xFF\xFFprint\n") + std::string(99, 'x') + "\n";
    for (long i = 0; i < mid; i++)
      sendto(tx, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&addr),
             sizeof addr);
    long got = 0;
    char buf[2048];
    while (recv(rx, buf, sizeof buf, MSG_DONTWAIT) > 0) got++;
    close(rx);
    close(tx);
    if (got == mid)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

// A script of 20,000 echo lines with a pause half-way, once quiet and once under a
// flood of 100,000 junk datagrams from the server's own address and port.
void flood() {
  sockaddr_in server;
  int fd = bound_socket(&server);
  std::string script = "rcon hi\n", expected;
  for (int i = 0; i < 20000; i++) {
    // Half-way, a pause that outlasts the flood: all of it lands mid-script.
    if (i == 10000) script += "wait 2\n";
    script += "echo " + std::to_string(i) + "\n";
    expected += std::to_string(i) + "\n";
  }
  std::string path = write_script("flood.script", script, 1);
  std::string out = data_dir + "/flood.out";
  printf(
      "\n## Junk flood\n\n| run | wall time | peak RSS | echo lines whole and in order "
      "|\n|---|---:|---:|---|\n");
  for (int junk : {0, 100000}) {
    run r = start(server, path, out.c_str());
    char buf[2048];
    sockaddr_in client;
    socklen_t len = sizeof client;
    recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&client), &len);
    std::thread sender([&] {
      for (int i = 0; i < junk; i++)
        sendto(fd, i % 2 ? "junk" : "\xFF\xFF\xFF\xFFstatusResponse\n", i % 2 ? 4 : 19,
               0, reinterpret_cast<sockaddr*>(&client), sizeof client);
    });
    long before = peak_rss_kib;
    peak_rss_kib = 0;
    double wall = finish(r, nullptr, true);
    sender.join();
    std::string printed = file_text(out);
    printf("| %s | %.0f ms | %ld KiB | %s |\n",
           junk ? "100,000 junk datagrams" : "quiet", wall * 1e3, peak_rss_kib,
           printed == expected ? "yes" : "NO");
    peak_rss_kib = std::max(before, peak_rss_kib);
  }
  close(fd);
}

void bursts() {
  printf(
      "\n## Reply bursts held during a pause\n\nLargest burst of 100-character "
      "replies (110-byte datagrams) that a socket nobody reads holds whole:\n\n"
      "| receive buffer | burst held |\n|---|---:|\n");
  printf("| system default | %ld |\n", burst_held(0, 0));
  long rmem_max = proc_number("/proc/sys/net/core/rmem_max", "");
  printf(
      "| 1 MiB asked without privilege (SO_RCVBUF, capped at net.core.rmem_max = "
      "%ld here) | %ld |\n",
      rmem_max, burst_held(SO_RCVBUF, 1 << 20));
  printf("| 1 MiB forced, as root (what rcon-script gets as root) | %ld |\n",
         burst_held(SO_RCVBUFFORCE, 1 << 20));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    (void)fprintf(
        stderr,
        "usage: rcon_bench PROGRAM FLOOR DATA_DIR [short|full] [WINDOWS_EXE [WINE]]\n");
    return 2;
  }
  program_path = argv[1];
  floor_path = argv[2];
  data_dir = argv[3];
  bool full = argc <= 4 || strcmp(argv[4], "short") != 0;
  std::vector<std::string> windows;  // its Windows build, under wine
  if (argc > 5) windows = {argc > 6 ? argv[6] : "wine", argv[5]};
  if (full) {
    sockaddr_in sink;
    int sink_fd = bound_socket(&sink);  // never read: the kernel drops the excess
    per_line_costs(sink);
    echo_cost(sink);
    close(sink_fd);
  }
  stop_latency(full ? 20 : 6, windows);
  wait_cpu(full ? 30 : 2);
  loop_mode(full ? 10 : 2);
  burst();
  if (full) {
    bursts();
    flood();
  }
  printf(
      "\n## Peak RSS\n\nLargest resident set of any rcon-script run whose peak was "
      "watched (its VmHWM, looked at every 2 ms): %ld KiB.\n",
      peak_rss_kib);
  if (peak_rss_kib > 0) {
    check("peak RSS at most 4 MiB",
          format("%.0f KiB", static_cast<double>(peak_rss_kib)), peak_rss_kib <= 4096);
  }
  printf("\n## Targets\n\n| target | measured | |\n|---|---:|---|\n");
  bool all_met = true;
  for (const target& t : targets) {
    printf("| %s | %s | %s |\n", t.what.c_str(), t.measured.c_str(),
           t.met ? "met" : "MISSED");
    if (!t.met) all_met = false;
  }
  return all_met ? 0 : 1;
}
