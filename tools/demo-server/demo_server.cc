// demo-server: a stand-in game server console on 127.0.0.1, for trying
// rcon-script without a game server: tools/demo runs it, and tools/package
// runs the service's command line against it.
//
//   demo-server PORT PASSWORD [-- COMMAND [ARG...]]
//
// PORT 0 takes a free port. The server says where it listens on stderr, and
// gives COMMAND its ADDRESS:PORT in the environment, as DEMO_ADDRESS:
//
//   demo-server 0 secret -- sh -c 'rcon-script "$DEMO_ADDRESS" secret once x'
//
// It answers command datagrams with console-output replies: "status" gets a
// canned status, "settings" a long listing split over several replies, any
// other command is echoed back, and a wrong password gets a refusal. With a
// COMMAND it runs it, serves until it ends and exits with its status;
// without one it exits after 60 seconds without a datagram.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

const int IDLE_SECONDS = 60;
const int SETTING_COUNT = 40;
const size_t REPLY_TEXT_MAX = 1000;
const size_t DATAGRAM_MAX = 65536;

static const char command_prefix[] = "\xFF\xFF\xFF\xFFrcon \"";
static const char reply_header[] = "\xFF\xFF\xFF\xFFprint\n";

static const char status_text[] =
    "map: harbour_at_dusk\n"
    "slot  score  ping  player\n"
    "----  -----  ----  ------------------\n"
    "   1     12    48  alice\n"
    "   2      7    61  bob\n"
    "   3      3   999  carol (joining)\n";

// Sends \a text, which must fit one reply, as one console-output reply.
static void send_reply(int fd, const sockaddr_in* to, const char* text, size_t len) {
  char datagram[sizeof reply_header - 1 + REPLY_TEXT_MAX];
  memcpy(datagram, reply_header, sizeof reply_header - 1);
  memcpy(datagram + sizeof reply_header - 1, text, len);
  sendto(fd, datagram, sizeof reply_header - 1 + len, 0,
         reinterpret_cast<const sockaddr*>(to), sizeof *to);
}

// Sends \a text in as many replies as it takes, each cut after a line end.
static void send_long_reply(int fd, const sockaddr_in* to, const char* text) {
  size_t left = strlen(text);
  while (left > 0) {
    size_t len = left < REPLY_TEXT_MAX ? left : REPLY_TEXT_MAX;
    while (len < left && len > 1 && text[len - 1] != '\n') len--;
    send_reply(fd, to, text, len);
    text += len;
    left -= len;
  }
}

// Sends a listing of made-up settings, too long for one reply.
static void send_settings(int fd, const sockaddr_in* to) {
  char text[8192];
  size_t used = 0;
  for (int i = 0; i < SETTING_COUNT; i++)
    used += static_cast<size_t>(snprintf(text + used, sizeof text - used,
                                         "  demo.knob_%02d  = %3d   (made up)\n", i,
                                         i * 7 % 100));
  (void)snprintf(text + used, sizeof text - used, "%d settings\n", SETTING_COUNT);
  send_long_reply(fd, to, text);
}

// Answers one datagram; anything that is not a command datagram is ignored.
static void answer(int fd, const sockaddr_in* from, const char* password,
                   const char* data, size_t len) {
  size_t prefix = sizeof command_prefix - 1;
  if (len < prefix || memcmp(data, command_prefix, prefix) != 0) return;
  const char* rest = data + prefix;
  size_t rest_len = len - prefix;
  size_t pw = strlen(password);
  if (rest_len < pw + 2 || memcmp(rest, password, pw) != 0 || rest[pw] != '"' ||
      rest[pw + 1] != ' ') {
    static const char refusal[] = "Wrong password.\n";
    send_reply(fd, from, refusal, sizeof refusal - 1);
    return;
  }
  char command[REPLY_TEXT_MAX];
  size_t n = strnlen(rest + pw + 2, rest_len - pw - 2);
  if (n > sizeof command - 30) n = sizeof command - 30;
  memcpy(command, rest + pw + 2, n);
  command[n] = '\0';
  if (strcmp(command, "status") == 0) {
    send_reply(fd, from, status_text, sizeof status_text - 1);
  } else if (strcmp(command, "settings") == 0) {
    send_settings(fd, from);
  } else {
    char text[REPLY_TEXT_MAX];
    int m = snprintf(text, sizeof text, "Unknown command \"%s\"\n", command);
    send_reply(fd, from, text, static_cast<size_t>(m));
  }
}

// Returns a UDP socket bound to 127.0.0.1:\a port (0: a free one), with
// where it is bound in \a addr; or -1.
static int listen_loopback(int port, sockaddr_in* addr) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  (void)fcntl(fd, F_SETFD, FD_CLOEXEC);  // not for the COMMAND it runs
  memset(addr, 0, sizeof *addr);
  addr->sin_family = AF_INET;
  addr->sin_port = htons(static_cast<uint16_t>(port));
  addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof *addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(addr), len) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(addr), &len) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int main(int argc, char** argv) {
  if (argc == 4 || argc < 3 || (argc > 4 && strcmp(argv[3], "--") != 0)) {
    (void)fprintf(stderr, "usage: demo-server PORT PASSWORD [-- COMMAND [ARG...]]\n");
    return 2;
  }
  sockaddr_in addr;
  int fd = listen_loopback(static_cast<int>(strtol(argv[1], nullptr, 10)), &addr);
  if (fd < 0) {
    (void)fprintf(stderr, "demo-server: cannot listen on 127.0.0.1:%s\n", argv[1]);
    return 2;
  }
  char address[32];
  (void)snprintf(address, sizeof address, "127.0.0.1:%d", ntohs(addr.sin_port));
  (void)fprintf(stderr, "demo-server: listening on %s\n", address);
  (void)setenv("DEMO_ADDRESS", address, 1);
  pid_t child = 0;
  if (argc > 4) {
    // Ctrl+C reaches the child too: let it stop in order, then follow it.
    (void)signal(SIGINT, SIG_IGN);
    if (posix_spawnp(&child, argv[4], nullptr, nullptr, argv + 4, environ) != 0) {
      (void)fprintf(stderr, "demo-server: cannot run %s\n", argv[4]);
      return 2;
    }
  }
  time_t last_heard = time(nullptr);
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      static char data[DATAGRAM_MAX];
      sockaddr_in from;
      socklen_t from_len = sizeof from;
      ssize_t n = recvfrom(fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from),
                           &from_len);
      if (n > 0) answer(fd, &from, argv[2], data, static_cast<size_t>(n));
      last_heard = time(nullptr);
    }
    int status;
    if (child > 0 && waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    if (child == 0 && time(nullptr) - last_heard > IDLE_SECONDS) return 0;
  }
}
