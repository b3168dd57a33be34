// The operating-system facilities that differ between Windows and POSIX,
// each written once per platform in posix.cc and win32.cc. Above this header
// the code is the same for both. Every call here does one thing; the rules
// built on them (when output gives up, when a wait ends) live with the code
// that uses them.
#ifndef RCON_PLATFORM_H
#define RCON_PLATFORM_H

#include <signal.h>
#include <stddef.h>

#ifdef _WIN32
#include <winsock2.h>
typedef SOCKET rcon_socket;
#define RCON_NO_SOCKET INVALID_SOCKET
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
typedef int rcon_socket;
#define RCON_NO_SOCKET (-1)
#endif

/// The signals that ask for an orderly stop.
inline constexpr int STOP_SIGNALS[] = {SIGABRT, SIGINT, SIGTERM};

/// Hides argument \a index of \a argv from the process list, which shows a
/// program's arguments to every user for as long as it runs: overwrites it
/// with zero bytes, and on Windows, where process viewers read a copy of
/// the command line that the system keeps apart, blanks it there too.
void hide_argument(char** argv, int index);

/// Starts the socket library. Returns 1 on success, 0 on failure.
int net_start();

/// Stops the socket library again; on Windows that also releases a socket
/// that is still open.
void net_stop();

/// Asks for a receive buffer of \a bytes on \a sock, so that a burst of
/// replies that comes during a pause is not lost. Best effort: the system may
/// grant less, and nothing is reported.
void socket_ask_receive_buffer(rcon_socket sock, int bytes);

/// Shuts both directions of \a sock down, then closes it. On Windows a socket
/// whose shutdown fails is left open for net_stop() to release.
void socket_shutdown_close(rcon_socket sock);

/// Returns how many datagrams the system has dropped on \a sock because its
/// receive buffer was full, counted in 32 bits from the socket's start; 0
/// where the system keeps no such count (Windows, macOS) or hands none over.
unsigned socket_dropped(rcon_socket sock);

/// Ties \a sock to \a to: the system then sends there alone and takes in
/// datagrams from there alone, and hands the socket the reports that come
/// back of what it sent (a port where nothing listens). Returns 0, or the
/// system's error number.
int socket_connect(rcon_socket sock, const sockaddr_in* to);

/// Unties \a sock from where socket_connect() tied it; it may then lose the
/// local port and address it had.
void socket_disconnect(rcon_socket sock);

/// Sends the \a len bytes of \a data as one datagram over the tied \a sock.
/// Returns 0 once it has gone out, or the system's error number.
int socket_send(rcon_socket sock, const char* data, size_t len);

/// Takes the datagram that waits on \a sock, if one does, into \a buf of \a cap
/// bytes, and puts its sender in \a from. Returns its length; for one that
/// does not fit in fewer than \a cap bytes, its whole length where the system
/// tells it (Linux), else \a cap. Returns minus the system's error number
/// when none could be taken: none waits, or the system hands over a report
/// instead (socket_error_report()). Never waits.
long socket_receive(rcon_socket sock, char* buf, size_t cap, sockaddr_in* from);

/// What a failed send or receive on a tied socket says of the peer.
enum socket_report {
  REPORT_NONE,         // nothing of the peer: an error of this side
  REPORT_REFUSED,      // nothing listens on the peer's port
  REPORT_UNREACHABLE,  // the peer's host or network cannot be reached
};

/// Returns what the socket error \a err says of the peer. Such reports come
/// back some time after the datagram that met them, and the system hands
/// each to the next send or receive, which it fails.
socket_report socket_error_report(int err);

/// Returns the system's text for the socket error \a err.
const char* socket_error_text(int err);

/// Installs \a handler for STOP_SIGNALS for the whole run, and readies
/// wake_waits().
void install_stop_handler(void (*handler)(int));

/// For the stop handler: puts it back for \a sig where the runtime reset the
/// signal to its default action before calling it (Windows).
void keep_stop_handler(int sig);

/// For the stop handler: ends wait_for() at once, also one that is about to
/// begin. On Windows a read that has begun, of a line half typed at the
/// console, still waits for its end.
void wake_waits();

/// Returns a clock in milliseconds that only ever moves forward, whatever
/// is done to the time of day.
long long monotonic_ms();

/// What ended wait_for().
enum wait_end { WAIT_STOPPED, WAIT_TIME_UP, WAIT_SCRIPT, WAIT_REPLIES };

/// Waits until the script \a fd (-1: none) can be read without waiting, a
/// datagram (or an error) waits on \a replies (RCON_NO_SOCKET: none), \a ms
/// milliseconds pass (-1: no limit; 0: it only looks) or \a stop is set, also
/// before it begins. Returns the first of those; a script that is ready comes
/// before replies. On Windows an empty pipe, the console and the socket are
/// looked at every 50 ms, and a stop while the socket is watched ends the
/// wait at the next look.
wait_end wait_for(int fd, rcon_socket replies, int ms,
                  const volatile sig_atomic_t* stop);

/// Opens the script at \a path for reading its bytes as they are, without
/// waiting for a FIFO's writer. Returns a descriptor, or -1 with errno set.
int script_file_open(const char* path);

/// Reads at most \a cap bytes of the script, once wait_for() has found it
/// ready: a whole line from a terminal, what a pipe holds, a chunk of a
/// file. Returns how many were read, 0 at the end, or -1 with errno set.
long script_file_read(int fd, unsigned char* buf, size_t cap);

void script_file_close(int fd);

/// Opens whichever of descriptors 0, 1 and 2 is closed on the null device,
/// so that neither the socket nor the script can take its place and be
/// written to as standard output. Their use still fails as on a closed
/// descriptor: 0 is opened for writing only, 1 and 2 for reading only.
void hold_standard_descriptors();

/// Writes what one system call takes of \a len bytes of \a data to \a fd, in
/// the platform's text mode for the standard descriptors (on Windows each
/// line feed becomes CR LF). Returns how many it took, or -1 with errno set.
long descriptor_write(int fd, const char* data, size_t len);

/// Returns 1 if a write to \a fd would not wait now (or would fail), 0 if it
/// would wait for a reader.
int descriptor_writable_now(int fd);

/// Returns 1 if a reader waits for each line written to \a fd: a terminal,
/// or the systemd journal that JOURNAL_STREAM names (POSIX).
int descriptor_shows_each_print(int fd);

/// \a seconds from now, sets \a *rang and makes a write that is waiting then
/// fail with EINTR, and so again every \a seconds after (POSIX; on Windows a
/// write cannot be cut short, and nothing happens). Only does what a signal
/// handler may do.
void ring_after(unsigned seconds, volatile sig_atomic_t* rang);

/// Returns the system's text for the error number \a err.
const char* error_text(int err);

#endif
