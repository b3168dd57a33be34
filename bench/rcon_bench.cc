// Measures rcon-script on loopback and checks its targets:
//   rcon_bench PROGRAM DATA_DIR [short|full]
// prints a Markdown table of the targets, with what was measured, and exits
// with status 1 if one is missed. Each target is a ratio, a count or a bound
// far from what is measured, so that a busy machine does not move it. The
// full run takes about two minutes; the short one, which
// CI runs, about ten seconds and leaves out the cost per line, which needs
// long scripts. "rcon_bench floor ADDRESS:PORT SCRIPT" is the floor that
// the cost per line is measured against.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "link/datagram.h"
#include "link/rcon_link.h"
#include "tests/loopback.h"

extern char** environ;

namespace {

std::string program_path, data_dir;
long peak_rss_kib = 0;
bool all_met = true;

// Prints a row of the targets' table: what was measured and how it went.
void check(const std::string& target, const char* measured_format, double value,
           bool met) {
  char measured[128];
  (void)snprintf(measured, sizeof measured, measured_format, value);
  printf("| %s | %s | %s |\n", target.c_str(), measured, met ? "met" : "MISSED");
  all_met = all_met && met;
}

double now_s() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Returns the path of a script in the data folder that holds \a line, \a
// count times.
std::string write_script(const std::string& name, const std::string& line,
                         long count = 1) {
  std::string path = data_dir + "/" + name;
  std::ofstream file(path, std::ios::binary);
  for (long i = 0; i < count; i++) file << line;
  return path;
}

struct run {
  pid_t pid;
  double started;
};

run spawn(std::vector<std::string> args, const std::string& out = "/dev/null") {
  std::vector<char*> argv;
  std::transform(args.begin(), args.end(), std::back_inserter(argv),
                 [](std::string& arg) { return &arg[0]; });
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  run r = {0, now_s()};
  if (posix_spawn(&r.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    exit(1);
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

run start(const udp_peer& server, const std::string& script, const char* mode = "once",
          const std::string& out = "/dev/null") {
  return spawn({program_path, endpoint_of(server), "secret", mode, script}, out);
}

// Returns the peak resident set of \a pid so far, in KiB (ru_maxrss would
// also count the spawning process's memory before exec).
long vm_hwm_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// Waits for the run; returns its wall time and puts its CPU time in *cpu_s.
// With \a watch_rss it looks at the peak RSS every 2 ms, which blurs the
// wall time by as much: timed runs leave it off.
double finish(const run& r, double* cpu_s = nullptr, bool watch_rss = false) {
  int status;
  rusage u;
  while (watch_rss && wait4(r.pid, &status, WNOHANG, &u) != r.pid) {
    peak_rss_kib = std::max(peak_rss_kib, vm_hwm_kib(r.pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!watch_rss) wait4(r.pid, &status, 0, &u);
  if (cpu_s != nullptr) {
    *cpu_s = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
  }
  return now_s() - r.started;
}

// The floor, as a process of its own: read the script and send each "rcon "
// line as the same command datagram with one send() on the tied socket, then
// look for a reply once without waiting, the least that a drain after every
// line can cost.
int run_floor(const char* endpoint, const char* script) {
  rcon_link link;
  FILE* file = fopen(script, "rb");
  if (!rcon_open(&link, endpoint) || file == nullptr) return 2;
  char line[1025];
  char datagram[RCON_SEND_MAX];
  while (fgets(line, sizeof line, file) != nullptr) {
    line[strcspn(line, "\n")] = '\0';
    size_t len = 0;
    if (strncmp(line, "rcon ", 5) == 0)
      len = build_command_datagram(datagram, "secret", line + 5);
    if (len > 0) (void)socket_send(link.sock, datagram, len);
    sockaddr_in from;
    (void)socket_receive(link.sock, line, sizeof line, &from);
  }
  return 0;
}

// A million "rcon " lines, the median of five runs against the floor's.
void cost_per_line(const udp_peer& sink) {
  std::string script =
      write_script("lines.script", "rcon say benchmark line\n", 1000000);
  std::vector<double> program, floor;
  for (int i = 0; i < 5; i++) {
    program.push_back(finish(start(sink, script)));
    floor.push_back(
        finish(spawn({"/proc/self/exe", "floor", endpoint_of(sink), script})));
  }
  double ratio = median(program) / median(floor);
  check("time per rcon line, at most 1.05 x the floor's", "%.3f x", ratio,
        ratio <= 1.05);
}

// SIGINT at evenly spread points of a wait's first half second: a stop must
// cut the wait short, never wait for its end.
void stop_latency(int runs) {
  udp_peer server = udp_peer_open();
  std::string script = write_script("stop.script", "rcon sync\nwait 30\n");
  std::vector<double> ms;
  for (int i = 0; i < runs; i++) {
    run r = start(server, script);
    std::string sync;
    if (!udp_receive(server, &sync, 10000)) exit(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(i * 500 / runs));
    double sent = now_s();
    kill(r.pid, SIGINT);
    finish(r);
    ms.push_back((now_s() - sent) * 1e3);
  }
  double slowest = *std::max_element(ms.begin(), ms.end());
  check("slowest of the stops in a wait, under 250 ms", "%.2f ms", slowest,
        slowest < 250);
}

// The CPU of a wait beyond an empty script's run, which is start-up.
void wait_cpu(const udp_peer& sink, int seconds) {
  double start_up = 0;
  double cpu = 0;
  finish(start(sink, write_script("empty.script", "")), &start_up);
  std::string wait = "wait " + std::to_string(seconds) + "\n";
  double wall = finish(start(sink, write_script("wait.script", wait)), &cpu);
  double percent = std::max(0.0, cpu - start_up) / wall * 100;
  check("CPU during a wait, at most 0.1% of a core", "%.4f%%", percent, percent <= 0.1);
}

// Loop mode over one command, and over a script that is missing: passes
// come at most twice a second, so the server gets no flood and no core
// burns. A missing script sends nothing: only its CPU can move.
void loop_mode(int seconds) {
  udp_peer server = udp_peer_open();
  std::string one = write_script("loop.script", "rcon status\n");
  for (const std::string& script : {one, data_dir + "/missing.script"}) {
    run r = start(server, script, "loop");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    kill(r.pid, SIGINT);
    double cpu = 0;
    double wall = finish(r, &cpu, true);
    double commands = 0;
    std::string datagram;
    while (udp_receive(server, &datagram, 0)) commands++;
    std::string what =
        script == one ? "loop over one command" : "loop over a missing script";
    if (script == one)
      check(what + ": commands a second, at most 2", "%.2f", commands / wall,
            commands <= wall * 2 + 1);
    check(what + ": CPU, at most 1% of a core", "%.3f%%", cpu / wall * 100,
          cpu <= wall / 100);
  }
}

// 3000 short replies during a wait are all printed, in order: more than a
// 1 MiB receive buffer holds, where the system grants the 1.5 MiB that the
// program asks for: as root, which is when this target is checked.
void burst() {
  udp_peer server = udp_peer_open();
  std::string out = data_dir + "/burst.out";
  run r = start(server, write_script("burst.script", "rcon a\nwait 2\n"), "once", out);
  std::string first;
  sockaddr_in client;
  if (!udp_receive(server, &first, 10000, &client)) exit(1);
  std::string sent;
  for (int i = 0; i < 3000; i++) {
    std::string text = "reply " + std::to_string(i) + "\n";
    sent += text;
    udp_send(server, reply_datagram(text), client);
  }
  finish(r, nullptr, true);
  std::ifstream file(out, std::ios::binary);
  std::string printed((std::istreambuf_iterator<char>(file)),
                      std::istreambuf_iterator<char>());
  if (geteuid() == 0) {
    check("a burst of 3000 short replies: printed, all in order", "%.0f",
          static_cast<double>(std::count(printed.begin(), printed.end(), '\n')),
          printed == sent);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "floor") == 0) return run_floor(argv[2], argv[3]);
  if (argc < 3) return 2;
  program_path = argv[1];
  data_dir = argv[2];
  bool full = argc <= 3 || strcmp(argv[3], "short") != 0;
  udp_peer sink = udp_peer_open();  // never read: the system drops what overflows
  if (sink.sock < 0) return 1;
  printf("| target | measured | |\n|---|---:|---|\n");
  if (full) cost_per_line(sink);
  stop_latency(full ? 20 : 6);
  wait_cpu(sink, full ? 30 : 5);
  loop_mode(full ? 10 : 2);
  burst();
  check("peak RSS, at most 4 MiB", "%.0f KiB", static_cast<double>(peak_rss_kib),
        peak_rss_kib > 0 && peak_rss_kib <= 4096);
  return all_met ? 0 : 1;
}
