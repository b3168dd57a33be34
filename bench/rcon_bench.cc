// Measures rcon-script against the floor, all on loopback:
//   rcon_bench PROGRAM FLOOR DATA_DIR [quick|full] [WINDOWS_EXE [WINE]]
// prints a Markdown report on stdout and writes DATA_DIR/per_line.dat for
// the plot. Not a test: it asserts nothing and takes a minute or more.
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

// What the targets are judged on, filled in as the sections run.
struct figures {
  double marginal_ratio_b = 0;  // rcon-script's cost per extra line over (b)'s
  double scaling = 0;           // per-line cost at the largest size over 100k's
  double wait_cpu_percent = 0;
  double stop_p95_ms = 0;
  double stop_line_max_ms = 0;
  double stop_wine_max_ms = -1;  // not measured
} measured;

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
  if (peer.fd < 0) {
    perror("bind");
    exit(1);
  }
  *addr = peer.addr;
  return peer.fd;
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
  run r = {0, now_s()};
  if (posix_spawnp(&r.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    perror("spawn");
    exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

run start(const sockaddr_in& server, const std::string& script,
          const char* out = "/dev/null") {
  return spawn({program_path, endpoint_text(server), "secret", "once", script}, out);
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

void per_line_costs(const sockaddr_in& sink, bool quick) {
  std::vector<long> sizes = {10000, 100000, 1000000};
  if (quick) sizes.pop_back();
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
  measured.marginal_ratio_b = slope_p / slope_b;
  measured.scaling = per_line_p.back() / per_line_p[1];
  printf(
      "\nCost of one more line (slope from %ld to %ld lines): rcon-script %.0f ns, "
      "(b) %.0f ns, ratio %.3f. Fixed cost of a run (process start-up and set-up): "
      "rcon-script %.2f ms, (b) %.2f ms.\n",
      sizes.front(), sizes.back(), slope_p, slope_b, measured.marginal_ratio_b,
      fixed_p_ms, fixed_b_ms);
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

void stop_latency(const std::vector<std::string>& windows) {
  printf(
      "\n## Stop latency\n\nSIGINT until the exit is collected, the signals landing "
      "at evenly spread points of the half-second pause cycle.\n\n"
      "| program | where the stop lands | runs | p50 | p95 | max |\n"
      "|---|---|---:|---:|---:|---:|\n");
  auto row = [](const char* program, const char* where, const std::vector<double>& ms) {
    printf("| %s | %s | %zu | %.2f ms | %.2f ms | %.2f ms |\n", program, where,
           ms.size(), percentile(ms, 0.5), percentile(ms, 0.95),
           *std::max_element(ms.begin(), ms.end()));
  };
  std::vector<double> ms = stop_times(20, {program_path}, false);
  measured.stop_p95_ms = percentile(ms, 0.95);
  row("rcon-script", "in a wait", ms);
  ms = stop_times(20, {program_path}, true);
  measured.stop_line_max_ms = *std::max_element(ms.begin(), ms.end());
  row("rcon-script", "waiting for a line from a FIFO", ms);
  if (windows.empty()) return;
  ms = stop_times(20, windows, false);
  measured.stop_wine_max_ms = *std::max_element(ms.begin(), ms.end());
  row("rcon-script.exe under wine", "in a wait", ms);
  printf(
      "\nUnder wine, by where in the pause cycle the signal lands (ms after the "
      "pause began, then the latency):\n\n|");
  for (size_t i = 0; i < ms.size(); i++) printf(" %zu |", i * 500 / ms.size());
  printf("\n|");
  for (size_t i = 0; i < ms.size(); i++) printf("---:|");
  printf("\n|");
  for (double m : ms) printf(" %.0f |", m);
  printf("\n");
}

void wait_cpu(int seconds) {
  sockaddr_in sink;
  int fd = bound_socket(&sink);
  std::string script =
      write_script("wait.script", "wait " + std::to_string(seconds) + "\n", 1);
  double cpu = 0;
  double wall = finish(start(sink, script), &cpu);
  measured.wait_cpu_percent = cpu / wall * 100;
  printf(
      "\n## CPU time during a wait\n\n`wait %d`: %.1f ms of CPU in %.1f s, %.4f%% of "
      "one core.\n",
      seconds, cpu * 1e3, wall, cpu / wall * 100);
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
    FILE* f = fopen(out.c_str(), "rb");
    std::string printed;
    for (;;) {
      size_t n = fread(buf, 1, sizeof buf, f);
      if (n == 0) break;
      printed.append(buf, n);
    }
    (void)fclose(f);
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
        "usage: rcon_bench PROGRAM FLOOR DATA_DIR [quick|full] [WINDOWS_EXE [WINE]]\n");
    return 2;
  }
  program_path = argv[1];
  floor_path = argv[2];
  data_dir = argv[3];
  bool quick = argc > 4 && strcmp(argv[4], "quick") == 0;
  sockaddr_in sink;
  int sink_fd = bound_socket(&sink);  // never read: the kernel drops the excess
  per_line_costs(sink, quick);
  echo_cost(sink);
  std::vector<std::string> windows;  // its Windows build, under wine
  if (argc > 5) windows = {argc > 6 ? argv[6] : "wine", argv[5]};
  stop_latency(windows);
  wait_cpu(quick ? 5 : 30);
  bursts();
  flood();
  printf(
      "\n## Peak RSS\n\nLargest resident set of any rcon-script run above (its VmHWM, "
      "looked at every 2 ms): %ld KiB.\n",
      peak_rss_kib);
  auto met = [](bool ok) { return ok ? "met" : "missed"; };
  printf("\n## Targets\n\n| target | measured | |\n|---|---:|---|\n");
  printf("| cost per line at most 1.05 x (b), start-up left out | %.3f x | %s |\n",
         measured.marginal_ratio_b, met(measured.marginal_ratio_b <= 1.05));
  printf(
      "| linear scaling: per-line cost at the largest script within 10%% of 100k's "
      "| %.3f | %s |\n",
      measured.scaling, met(measured.scaling >= 0.9 && measured.scaling <= 1.1));
  printf("| CPU during a wait at most 0.1%% | %.4f%% | %s |\n",
         measured.wait_cpu_percent, met(measured.wait_cpu_percent <= 0.1));
  printf("| peak RSS at most 4 MiB | %ld KiB | %s |\n", peak_rss_kib,
         met(peak_rss_kib <= 4096));
  printf("| stop latency p95 at most 20 ms | %.2f ms | %s |\n", measured.stop_p95_ms,
         met(measured.stop_p95_ms <= 20));
  printf("| stop while waiting for a line within 50 ms | %.2f ms | %s |\n",
         measured.stop_line_max_ms, met(measured.stop_line_max_ms <= 50));
  if (measured.stop_wine_max_ms >= 0)
    printf("| Windows build under wine: every stop within 80 ms | %.0f ms | %s |\n",
           measured.stop_wine_max_ms, met(measured.stop_wine_max_ms <= 80));
  close(sink_fd);
  return 0;
}
