// POSIX sockets, signals, waits and descriptors behind platform.h.
//
// Only the program's own handlers can cut a call here short, and each of
// them means a stop, which the callers look for: no call is made again after
// EINTR.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sock_diag.h>
#endif

#include "platform/platform.h"

// The process list reads the arguments themselves.
void hide_argument(char** argv, int index) {
  memset(argv[index], 0, strlen(argv[index]));
}

// Sockets need no library start-up here.
int net_start() {
  return 1;
}

void net_stop() {}

void socket_ask_receive_buffer(rcon_socket sock, int bytes) {
#ifdef SO_RCVBUFFORCE
  // Root may pass the system's ceiling (net.core.rmem_max); others get the
  // plain request below, cut down to that ceiling.
  if (setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return;
#endif
  (void)setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int socket_connect(rcon_socket sock, const sockaddr_in* to) {
  int tied = connect(sock, reinterpret_cast<const sockaddr*>(to), sizeof *to);
  return tied == 0 ? 0 : errno;
}

// An address of the family AF_UNSPEC unties a datagram socket.
void socket_disconnect(rcon_socket sock) {
  sockaddr_in none;
  memset(&none, 0, sizeof none);
  none.sin_family = AF_UNSPEC;
  (void)connect(sock, reinterpret_cast<const sockaddr*>(&none), sizeof none);
}

// No address: the BSDs refuse one on a tied socket.
int socket_send(rcon_socket sock, const char* data, size_t len) {
  return send(sock, data, len, 0) >= 0 ? 0 : errno;
}

// A UDP socket that is not tied fails the shutdown with ENOTCONN, so the
// socket is closed whatever the shutdown returned.
void socket_shutdown_close(rcon_socket sock) {
  shutdown(sock, SHUT_RDWR);
  close(sock);
}

// Linux counts what it drops for the socket in its memory figures; one that
// hands back fewer of them (qemu-user hands back one) has no count to give.
unsigned socket_dropped(rcon_socket sock) {
#ifdef SO_MEMINFO
  uint32_t meminfo[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof meminfo;
  int got = getsockopt(sock, SOL_SOCKET, SO_MEMINFO, meminfo, &len) == 0;
  if (got && len > SK_MEMINFO_DROPS * sizeof meminfo[0]) {
    return meminfo[SK_MEMINFO_DROPS];
  }
#else
  (void)sock;
#endif
  return 0;
}

// MSG_TRUNC makes Linux tell the whole length of a datagram that it cuts
// short.
#ifdef __linux__
static const int RECEIVE_FLAGS = MSG_DONTWAIT | MSG_TRUNC;
#else
static const int RECEIVE_FLAGS = MSG_DONTWAIT;
#endif

// No poll() first: a drain is one call a datagram, and keeps up with a
// burst that comes as fast as loopback carries it.
long socket_receive(rcon_socket sock, char* buf, size_t cap, sockaddr_in* from) {
  socklen_t from_len = sizeof *from;
  ssize_t len = recvfrom(sock, buf, cap, RECEIVE_FLAGS,
                         reinterpret_cast<sockaddr*>(from), &from_len);
  return len >= 0 ? static_cast<long>(len) : -errno;
}

socket_report socket_error_report(int err) {
  switch (err) {
    case ECONNREFUSED:
      return REPORT_REFUSED;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
      return REPORT_UNREACHABLE;
    default:
      return REPORT_NONE;
  }
}

const char* socket_error_text(int err) {
  return strerror(err);
}

// The stop handler writes a byte into this pipe, which every wait also
// polls. A wait empties the pipe before it tests the stop flag, so a stop
// that lands after the test leaves a byte there and ends the wait at once.
static int wake_pipe[2] = {-1, -1};

void wake_waits() {
  ssize_t written = write(wake_pipe[1], "", 1);
  (void)written;  // a full pipe wakes the wait just as well
}

wait_end wait_for(int fd, rcon_socket replies, int ms,
                  const volatile sig_atomic_t* stop) {
  char bytes[64];
  while (read(wake_pipe[0], bytes, sizeof bytes) > 0) {
  }
  if (*stop) return WAIT_STOPPED;
  pollfd fds[3] = {{wake_pipe[0], POLLIN, 0}, {fd, POLLIN, 0}, {replies, POLLIN, 0}};
  (void)poll(fds, 3, ms);  // poll() passes over a negative descriptor
  if (*stop) return WAIT_STOPPED;
  if (fds[1].revents != 0) return WAIT_SCRIPT;
  if (fds[2].revents != 0) return WAIT_REPLIES;
  return WAIT_TIME_UP;
}

// Installs \a handler for \a sig, with \a flags, for the rest of the run.
static void set_handler(int sig, void (*handler)(int), int flags) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sa.sa_flags = flags;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}

// SA_RESTART keeps reads of the script and writes to stdout from failing
// with EINTR. The program never runs another: the pipe's ends need not be
// closed on exec. A launcher may have blocked the signals, which would then
// never arrive: one that is pending already arrives as they are unblocked.
void install_stop_handler(void (*handler)(int)) {
  if (pipe(wake_pipe) == 0) {
    for (int fd : wake_pipe) (void)fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : STOP_SIGNALS) {
    set_handler(sig, handler, SA_RESTART);
    sigaddset(&stops, sig);
  }
  (void)sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

// A handler set by sigaction() stays in place.
void keep_stop_handler(int) {}

long long monotonic_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// O_NONBLOCK only for the open itself: a FIFO without a writer would
// otherwise hold the open, where no stop signal can end it.
int script_file_open(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  int flags = fcntl(fd, F_GETFL);
  (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

long script_file_read(int fd, unsigned char* buf, size_t cap) {
  return static_cast<long>(read(fd, buf, cap));
}

void script_file_close(int fd) {
  close(fd);
}

// open() takes the lowest free descriptor: the one found closed, since those
// below it are open by then.
void hold_standard_descriptors() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) < 0) (void)open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
  }
}

long descriptor_write(int fd, const char* data, size_t len) {
  return static_cast<long>(write(fd, data, len));
}

// Errors count as writable, so that the write reports them.
int descriptor_writable_now(int fd) {
  pollfd p = {fd, POLLOUT, 0};
  return poll(&p, 1, 0) > 0;
}

// The service manager sets JOURNAL_STREAM to "DEVICE:INODE" of the stream
// that it gives the program as stdout and stderr: the journal.
static int is_journal(int fd) {
  const char* stream = getenv("JOURNAL_STREAM");
  struct stat st;
  if (stream == nullptr || fstat(fd, &st) != 0) return 0;
  char* colon;
  unsigned long long device = strtoull(stream, &colon, 10);
  if (device != static_cast<unsigned long long>(st.st_dev) || *colon != ':') return 0;
  return strtoull(colon + 1, nullptr, 10) == st.st_ino;
}

int descriptor_shows_each_print(int fd) {
  return isatty(fd) || is_journal(fd);
}

static volatile sig_atomic_t* alarm_rang;
static unsigned alarm_seconds;

static void on_alarm(int) {
  *alarm_rang = 1;
  alarm(alarm_seconds);
}

// Without SA_RESTART, so that the write that waits fails with EINTR.
void ring_after(unsigned seconds, volatile sig_atomic_t* rang) {
  alarm_rang = rang;
  alarm_seconds = seconds;
  set_handler(SIGALRM, on_alarm, 0);
  alarm(seconds);
}

const char* error_text(int err) {
  return strerror(err);
}
