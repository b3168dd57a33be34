// POSIX sockets, signals and waits behind platform.h.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

// Sockets need no library start-up here.
int net_start() { return 1; }

void net_stop() {}

void socket_ask_receive_buffer(rcon_socket sock, int bytes) {
#ifdef SO_RCVBUFFORCE
  // Root may pass the system's ceiling (net.core.rmem_max); others get the
  // plain request below, cut down to that ceiling.
  if (setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return;
#endif
  (void)setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// An unconnected UDP socket fails the shutdown with ENOTCONN, so the socket
// is closed whatever the shutdown returned.
void socket_shutdown_close(rcon_socket sock) {
  shutdown(sock, SHUT_RDWR);
  close(sock);
}

// poll() rather than select(): a descriptor above FD_SETSIZE, inherited from
// a careless parent, must not overrun an fd_set.
int socket_readable_now(rcon_socket sock) {
  pollfd p = {sock, POLLIN, 0};
  int n;
  do {
    n = poll(&p, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

long datagram_receive(rcon_socket sock, char* buf, size_t cap, sockaddr_in* from) {
  iovec iov = {buf, cap};
  msghdr msg;
  memset(&msg, 0, sizeof msg);
  memset(from, 0, sizeof *from);
  msg.msg_name = from;
  msg.msg_namelen = sizeof *from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  // MSG_DONTWAIT: a datagram that poll() reported can still vanish (a bad
  // checksum is found only now), and the program must not block then.
  ssize_t n;
  do {
    n = recvmsg(sock, &msg, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  // The kernel cuts an oversized datagram to cap bytes and says so only
  // through MSG_TRUNC; such a datagram counts as a failed receive.
  if (n < 0 || (msg.msg_flags & MSG_TRUNC)) return -1;
  return static_cast<long>(n);
}

#if RCON_HAVE_PPOLL

// ppoll() lets the stop signals in only while it waits: they stay blocked
// from the flag test until then, so one that lands in between is held back
// and ends the wait at once.

// Nothing to ready or do: the signal itself ends ppoll().
static void ready_wake() {}
static void wake_waits() {}

// Waits for \a fds (none for a plain pause) or \a ms (-1: no limit). Returns
// 0 if the wait ended by a stop, 1 otherwise.
static int wait_unless_stopped(pollfd* fds, nfds_t count, int ms,
                               const volatile sig_atomic_t* stop) {
  sigset_t stops, old;
  sigemptyset(&stops);
  for (int sig : STOP_SIGNALS) sigaddset(&stops, sig);
  sigprocmask(SIG_BLOCK, &stops, &old);
  timespec limit = {ms / 1000, (ms % 1000) * 1000000L};
  // Other signals that interrupt it are no reason to stop waiting.
  while (!*stop) {
    if (ppoll(fds, count, ms < 0 ? nullptr : &limit, &old) >= 0) break;
    if (errno != EINTR) break;
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return !*stop;
}

#else

// Without ppoll() (macOS), the handler writes a byte into a pipe that every
// wait also polls. The wait empties the pipe before it tests the flag, so a
// stop that lands after the test leaves a byte there and ends the wait at
// once.
static int wake_pipe[2] = {-1, -1};

// Returns 1 if a pipe whose ends are both non-blocking and closed on exec is
// in \a ends.
static int open_wake_pipe(int (&ends)[2]) {
  if (pipe(ends) != 0) return 0;
  for (int fd : ends) {
    (void)fcntl(fd, F_SETFL, O_NONBLOCK);
    (void)fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  return 1;
}

static void ready_wake() { (void)open_wake_pipe(wake_pipe); }

// Called from the stop handler: write() may be.
static void wake_waits() {
  ssize_t written = write(wake_pipe[1], "", 1);
  (void)written;  // a full pipe wakes the wait just as well
}

static void empty_wake_pipe() {
  char bytes[64];
  while (read(wake_pipe[0], bytes, sizeof bytes) > 0) {
  }
}

// Waits for \a fds (at most one; none for a plain pause) or \a ms (-1: no
// limit). Returns 0 if the wait ended by a stop, 1 otherwise.
static int wait_unless_stopped(pollfd* fds, nfds_t count, int ms,
                               const volatile sig_atomic_t* stop) {
  pollfd all[2] = {{wake_pipe[0], POLLIN, 0}, {-1, 0, 0}};
  if (count > 0) all[1] = fds[0];
  for (;;) {
    empty_wake_pipe();
    if (*stop) break;
    if (poll(all, 1 + count, ms) >= 0) break;
    if (errno != EINTR) break;
  }
  return !*stop;
}

#endif

// After a stop, output has about a second to go out: a reader that has
// stopped reading (a paused pager, Ctrl+S, a full pipe to a hung logger)
// must not hold the stop. The stop handler starts that second with alarm();
// SIGALRM, handled without SA_RESTART, then cuts short the write that
// blocks, and comes again every second after as a backstop. From then on
// output_write() writes only where the write can go out at once.
static volatile sig_atomic_t output_time_up = 0;
static struct sigaction on_alarm;  // made ready before any stop

static void on_output_time_up(int) {
  output_time_up = 1;
  alarm(1);
}

// Only calls that a signal handler may make: sigaction() and alarm().
static void start_output_second() {
  static volatile sig_atomic_t started = 0;
  if (started) return;
  started = 1;
  sigaction(SIGALRM, &on_alarm, nullptr);
  alarm(1);
}

// Returns 1 if a write to \a fd can go out now: a pipe with room for a
// block, a terminal that is not stopped. Errors count too, so that the
// write reports them.
static int writable_now(int fd) {
  pollfd p = {fd, POLLOUT, 0};
  return poll(&p, 1, 0) > 0;
}

int output_write(int fd, const char* data, size_t len) {
  while (len > 0) {
    if (output_time_up && !writable_now(fd)) return EINTR;
    ssize_t n = write(fd, data, len);
    if (n > 0) {
      data += n;
      len -= static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return n == 0 ? EIO : errno;
    }
  }
  return 0;
}

// errno is the program's, and the handler's calls may set it.
void stop_signal_hook(int) {
  int saved = errno;
  wake_waits();
  start_output_second();
  errno = saved;
}

// SA_RESTART keeps reads of the script and writes to stdout from failing
// with EINTR; without SA_RESETHAND the handler stays for the whole run.
void install_stop_handler(void (*handler)(int)) {
  ready_wake();
  on_alarm.sa_handler = on_output_time_up;
  sigemptyset(&on_alarm.sa_mask);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  for (int sig : STOP_SIGNALS) sigaction(sig, &sa, nullptr);
}

void pause_half_second(const volatile sig_atomic_t* stop) {
  (void)wait_unless_stopped(nullptr, 0, 500, stop);
}

// O_NONBLOCK only for the open itself: a FIFO without a writer would
// otherwise hold the open, where no stop signal can end it.
int script_file_open(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// One read() hands over what is there: a whole line from a terminal, what
// the writer has written from a pipe, a full buffer from a regular file.
// Only when nothing is there yet (never so for a regular file) is the wait
// set up that a stop can end.
long script_file_read(int fd, unsigned char* buf, size_t cap,
                      const volatile sig_atomic_t* stop) {
  pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0 && !wait_unless_stopped(&p, 1, -1, stop)) return 0;
  ssize_t n;
  do {
    n = read(fd, buf, cap);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<long>(n) : 0;
}

void script_file_close(int fd) { close(fd); }

void hold_standard_descriptors() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) >= 0) continue;  // open
    // open() takes the lowest free descriptor: this one.
    if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd) return;
  }
}

int stdout_is_terminal() { return isatty(STDOUT_FILENO); }
