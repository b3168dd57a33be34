// Windows Sockets 2.0, the C runtime's signals and descriptors, and an event
// that the stop handler sets to end a pause, behind platform.h.
// platform.h brings winsock2.h, which must come before windows.h.
// clang-format off
#include "platform/platform.h"
// clang-format on

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

enum { WAIT_LOOK_MS = 50 };  // how often a wait looks at what Windows cannot wait for

// Returns where the argument that starts at \a p ends in a command line, by
// the runtime's rules for splitting it: a blank outside double quotes ends
// it; 2n backslashes and a quote are n backslashes and a quote that opens or
// closes a quoted part, 2n+1 and a quote are n and a literal quote; "" in a
// quoted part is a literal quote that also closes it.
static wchar_t* argument_end(wchar_t* p) {
  int quoted = 0;
  while (*p != 0 && (quoted || (*p != ' ' && *p != '\t'))) {
    int slashes = 0;
    while (*p == '\\') {
      slashes++;
      p++;
    }
    if (slashes > 0 && *p != '"') continue;  // plain backslashes
    if (*p == 0) break;
    if (*p == '"' && slashes % 2 == 0) {
      if (quoted && p[1] == '"') p++;
      quoted = !quoted;
    }
    p++;
  }
  return p;
}

// Overwrites argument \a index of the Windows command line \a line with
// blanks, as the runtime splits it into arguments (0 is the program). Not
// static: its table calls it.
void blank_argument(wchar_t* line, int index) {
  wchar_t* p = line;
  // The program's name has a rule of its own: quoted up to the next quote.
  if (*p == '"') {
    p++;
    while (*p != 0 && *p != '"') p++;
    if (*p == '"') p++;
  } else {
    while (*p != 0 && *p != ' ' && *p != '\t') p++;
  }
  for (int i = 1; i <= index; i++) {
    while (*p == ' ' || *p == '\t') p++;
    wchar_t* end = argument_end(p);
    if (i == index) {
      while (p < end) *p++ = ' ';
    }
    p = end;
  }
}

// Process viewers read the command line in the process's own block, which
// GetCommandLineW() hands out; the runtime made the arguments from a copy.
void hide_argument(char** argv, int index) {
  memset(argv[index], 0, strlen(argv[index]));
  blank_argument(GetCommandLineW(), index);
}

int net_start() {
  WSADATA granted;
  if (WSAStartup(0x0002, &granted) != 0) return 0;
  if (granted.wVersion == 0x0002) return 1;
  WSACleanup();  // only version 2.0 itself will do
  return 0;
}

void net_stop() {
  WSACleanup();
}

void socket_ask_receive_buffer(rcon_socket sock, int bytes) {
  (void)setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                   sizeof bytes);
}

// Returns the system's text for the error \a code, without its line end.
static const char* system_text(DWORD code) {
  static char text[256];
  DWORD len = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, text, sizeof text, nullptr);
  while (len > 0 && (text[len - 1] == '\r' || text[len - 1] == '\n')) len--;
  text[len] = '\0';
  if (len == 0) (void)snprintf(text, sizeof text, "error %lu", code);
  return text;
}

int socket_connect(rcon_socket sock, const sockaddr_in* to) {
  int tied = connect(sock, reinterpret_cast<const sockaddr*>(to), sizeof *to);
  return tied == 0 ? 0 : WSAGetLastError();
}

// An address of all zeros unties a datagram socket.
void socket_disconnect(rcon_socket sock) {
  sockaddr_in none;
  memset(&none, 0, sizeof none);
  none.sin_family = AF_INET;
  (void)connect(sock, reinterpret_cast<const sockaddr*>(&none), sizeof none);
}

int socket_send(rcon_socket sock, const char* data, size_t len) {
  int sent = send(sock, data, static_cast<int>(len), 0);
  return sent != SOCKET_ERROR ? 0 : WSAGetLastError();
}

// A socket whose shutdown fails is left to WSACleanup(), which releases it.
void socket_shutdown_close(rcon_socket sock) {
  if (shutdown(sock, SD_BOTH) == 0) closesocket(sock);
}

unsigned socket_dropped(rcon_socket) {
  return 0;
}

// Returns 1 if a datagram (or an error) waits on \a sock; never waits.
static int socket_readable_now(rcon_socket sock) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sock, &readable);
  timeval now = {0, 0};
  // The set holds the socket alone: it is what select() found readable.
  return select(static_cast<int>(sock) + 1, &readable, nullptr, nullptr, &now) > 0;
}

// The socket blocks, so select() looks first: then the receive does not
// wait. One that does not fit fails with WSAEMSGSIZE, its first bytes and its
// sender filled in, and its length untold.
long socket_receive(rcon_socket sock, char* buf, size_t cap, sockaddr_in* from) {
  if (!socket_readable_now(sock)) return -WSAEWOULDBLOCK;
  int from_len = sizeof *from;
  int len = recvfrom(sock, buf, static_cast<int>(cap), 0,
                     reinterpret_cast<sockaddr*>(from), &from_len);
  if (len >= 0) return len;
  int err = WSAGetLastError();
  return err == WSAEMSGSIZE ? static_cast<long>(cap) : -err;
}

// On a datagram socket Windows hands over the peer's port unreachable as a
// reset connection.
socket_report socket_error_report(int err) {
  switch (err) {
    case WSAECONNRESET:
    case WSAECONNREFUSED:
      return REPORT_REFUSED;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
      return REPORT_UNREACHABLE;
    default:
      return REPORT_NONE;
  }
}

// The system's own words for a reset speak of a connection, which a
// datagram socket never had.
const char* socket_error_text(int err) {
  if (err == WSAECONNRESET) return "Connection refused";
  return system_text(static_cast<DWORD>(err));
}

// Set by wake_waits(), so that a pause ends at once rather than at the end
// of its time. Manual-reset: it stays set until the next pause clears it.
static HANDLE stop_event = nullptr;
static void (*stop_handler)(int) = nullptr;

void install_stop_handler(void (*handler)(int)) {
  stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  stop_handler = handler;
  for (int sig : STOP_SIGNALS) (void)signal(sig, handler);
}

// The runtime puts a signal back to its default action before it calls the
// handler.
void keep_stop_handler(int sig) {
  (void)signal(sig, stop_handler);
}

// SetEvent() takes no lock of the runtime's and allocates nothing, so it may
// be called from the handler, also on the thread that the console runs the
// handler on.
void wake_waits() {
  if (stop_event != nullptr) SetEvent(stop_event);
}

long long monotonic_ms() {
  return static_cast<long long>(GetTickCount64());
}

// Sleeps up to \a ms, or less once the stop's event or \a h (nullptr: none)
// is signalled. Without the event (it could not be made), it sleeps its
// whole time.
static void sleep_unless_stopped(HANDLE h, DWORD ms) {
  HANDLE handles[2] = {stop_event, h};
  DWORD count = h != nullptr ? 2 : 1;
  if (stop_event == nullptr ||
      WaitForMultipleObjects(count, handles, FALSE, ms) == WAIT_FAILED) {
    Sleep(ms);
  }
}

// Sleeps up to \a ms, or less once a datagram waits on \a sock; where select()
// fails at once (a socket that is not tied yet is not bound), on the
// stop's event instead, so that the wait never spins.
static void sleep_on_socket(rcon_socket sock, DWORD ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sock, &readable);
  timeval limit = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  if (select(static_cast<int>(sock) + 1, &readable, nullptr, nullptr, &limit) < 0) {
    sleep_unless_stopped(nullptr, ms);
  }
}

// Share modes that let the script be renamed or deleted while a pass holds
// it, so that it can be replaced meanwhile: moved away, and a new one moved
// into its name, as editors that save through a new file do. Binary mode:
// the script reader reads CR LF and 0x1A itself, as on POSIX.
int script_file_open(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    int missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    errno = missing ? ENOENT : EACCES;
    return -1;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) CloseHandle(h);
  return fd;
}

// Returns 1 if a key has been pressed at the console \a in: a line is being
// typed, and a read waits for its end. Other input events are taken off and
// dropped, as a read would drop them.
static int key_pressed(HANDLE in) {
  INPUT_RECORD event;
  DWORD n = 0;
  while (PeekConsoleInputA(in, &event, 1, &n) && n == 1) {
    if (event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown) return 1;
    (void)ReadConsoleInputA(in, &event, 1, &n);
  }
  return 0;
}

// Returns 0 if a read of the script on \a h would wait: an empty pipe, or a
// console at which no key has been pressed; 1 for all else (a regular file,
// data or the end of a pipe, a line being typed).
static int script_ready(HANDLE h) {
  DWORD mode = 0;
  DWORD waiting = 0;
  switch (GetFileType(h)) {
    case FILE_TYPE_PIPE:
      return !PeekNamedPipe(h, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0;
    case FILE_TYPE_CHAR:
      return !GetConsoleMode(h, &mode) || key_pressed(h);
    default:
      return 1;
  }
}

// Windows has no one wait for a pipe's data, a socket and an event at once.
// So the script and the socket are looked at, then it sleeps: on the stop's
// event and the console's input; while the socket is watched, in select()
// for a look's length; while a pipe is empty, for a look's length. The event
// is cleared before the flag test: a stop that lands after the test sets it
// again, and the sleep on it ends at once.
wait_end wait_for(int fd, rcon_socket replies, int ms,
                  const volatile sig_atomic_t* stop) {
  HANDLE h = fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : nullptr;
  int console = h != nullptr && GetFileType(h) == FILE_TYPE_CHAR;
  long long until = monotonic_ms() + ms;
  for (;;) {
    if (stop_event != nullptr) ResetEvent(stop_event);
    if (*stop) return WAIT_STOPPED;
    if (h != nullptr && script_ready(h)) return WAIT_SCRIPT;
    if (replies != RCON_NO_SOCKET && socket_readable_now(replies)) return WAIT_REPLIES;
    DWORD step = INFINITE;
    if (ms >= 0) {
      long long left = until - monotonic_ms();
      if (left <= 0) return WAIT_TIME_UP;
      step = static_cast<DWORD>(left);
    }
    int looked_at = replies != RCON_NO_SOCKET || (h != nullptr && !console);
    if (looked_at && step > WAIT_LOOK_MS) step = WAIT_LOOK_MS;
    if (replies != RCON_NO_SOCKET) {
      sleep_on_socket(replies, step);
    } else {
      sleep_unless_stopped(console ? h : nullptr, step);
    }
  }
}

// _read() returns what one ReadFile() gives: a line from the console, what
// is in a pipe. A read from the console ends on Ctrl+C, whose handler runs on
// a thread of its own: it gets a moment to set the flag, so that the stop is
// not taken for the end of the script.
long script_file_read(int fd, unsigned char* buf, size_t cap) {
  int n = _read(fd, buf, static_cast<unsigned>(cap));
  if (n <= 0 && stop_event != nullptr && _isatty(fd)) {
    WaitForSingleObject(stop_event, 100);
  }
  return n;
}

void script_file_close(int fd) {
  _close(fd);
}

// Nothing to do: the runtime keeps descriptors 0, 1 and 2 taken even when
// a standard handle is missing, and a socket is never a descriptor here.
void hold_standard_descriptors() {}

long descriptor_write(int fd, const char* data, size_t len) {
  return _write(fd, data, static_cast<unsigned>(len));
}

// Never asked: ring_after() never rings here.
int descriptor_writable_now(int) {
  return 1;
}

int descriptor_shows_each_print(int fd) {
  return _isatty(fd);
}

void ring_after(unsigned, volatile sig_atomic_t*) {}

const char* error_text(int err) {
  static char text[128];
  if (strerror_s(text, sizeof text, err) != 0) text[0] = '\0';
  return text;
}
