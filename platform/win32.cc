// Windows Sockets 2.0, the C runtime's signals and Sleep() behind platform.h.
// platform.h brings winsock2.h, which must come before windows.h.
// clang-format off
#include "platform/platform.h"
// clang-format on

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

int net_start() {
  WSADATA granted;
  if (WSAStartup(0x0002, &granted) != 0) return 0;
  // Only version 2.0 itself will do; anything else is handed back.
  if (granted.wVersion != 0x0002) {
    WSACleanup();
    return 0;
  }
  return 1;
}

void net_stop() { WSACleanup(); }

void socket_ask_receive_buffer(rcon_socket sock, int bytes) {
  (void)setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                   sizeof bytes);
}

// A socket whose shutdown fails is left to WSACleanup(), which releases it.
void socket_shutdown_close(rcon_socket sock) {
  if (shutdown(sock, SD_BOTH) == 0) closesocket(sock);
}

int socket_readable_now(rcon_socket sock) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sock, &readable);
  timeval now = {0, 0};
  if (select(static_cast<int>(sock) + 1, &readable, nullptr, nullptr, &now) <= 0)
    return 0;
  return FD_ISSET(sock, &readable) ? 1 : 0;
}

// A datagram over cap bytes fails with WSAEMSGSIZE, and an earlier one that
// met a closed port with WSAECONNRESET: both are failed receives.
long datagram_receive(rcon_socket sock, char* buf, size_t cap, sockaddr_in* from) {
  memset(from, 0, sizeof *from);
  int from_len = sizeof *from;
  int n = recvfrom(sock, buf, static_cast<int>(cap), 0,
                   reinterpret_cast<sockaddr*>(from), &from_len);
  return n == SOCKET_ERROR ? -1 : n;
}

// Set by stop_signal_hook(), so that a pause ends at once rather than at the
// end of its half second. Manual-reset: it stays set until the next pause.
// Made with the handler; without it a pause runs its whole half second.
static HANDLE stop_event = nullptr;
static void (*stop_handler)(int) = nullptr;

// The event is cleared before the flag test: a stop that lands after the
// test sets it again, and the wait returns at once.
void pause_half_second(const volatile sig_atomic_t* stop) {
  if (stop_event == nullptr) {
    if (!*stop) Sleep(500);
    return;
  }
  ResetEvent(stop_event);
  if (!*stop) WaitForSingleObject(stop_event, 500);
}

// The runtime's text mode: CR LF comes as LF, and a 0x1A byte ends the file.
int script_file_open(const char* path) { return _open(path, _O_RDONLY | _O_TEXT); }

// _read() returns what one ReadFile() gives: a line from the console, what
// is in a pipe. A read from a pipe cannot be cut short; one from the console
// ends on Ctrl+C, whose handler runs on a thread of its own: it gets a moment
// to set the flag, so that the stop is not taken for the end of the script.
long script_file_read(int fd, unsigned char* buf, size_t cap,
                      const volatile sig_atomic_t*) {
  int n = _read(fd, buf, static_cast<unsigned>(cap));
  if (n <= 0 && stop_event != nullptr && _isatty(fd))
    WaitForSingleObject(stop_event, 100);
  return n > 0 ? n : 0;
}

void script_file_close(int fd) { _close(fd); }

// Nothing to do: the runtime keeps descriptors 0, 1 and 2 taken even when
// a standard handle is missing, and a socket is never a descriptor here.
void hold_standard_descriptors() {}

void install_stop_handler(void (*handler)(int)) {
  stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  stop_handler = handler;
  for (int sig : STOP_SIGNALS) (void)signal(sig, handler);
}

// The runtime puts a signal back to its default action before it calls the
// handler, so the handler is put back here. SetEvent() takes no lock of the
// runtime's and allocates nothing, so it may be called here too, also on
// the thread that the console runs the handler on.
void stop_signal_hook(int sig) {
  (void)signal(sig, stop_handler);
  if (stop_event != nullptr) SetEvent(stop_event);
}

// The runtime's text mode writes each line feed as CR LF. A write to a pipe
// whose reader has stopped reading cannot be cut short here.
int output_write(int fd, const char* data, size_t len) {
  while (len > 0) {
    int n = _write(fd, data, static_cast<unsigned>(len));
    if (n <= 0) return n == 0 ? EIO : errno;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

int stdout_is_terminal() { return _isatty(_fileno(stdout)); }
