// The operating-system facilities that differ between Windows and POSIX,
// each written once per platform in posix.cc and win32.cc. Above this header
// the code is the same for both, with one choice left to it:
// SCRIPT_RUNTIME_TRANSLATES says whether the runtime applies the text-mode
// rules to the script, or the script reader must (the fuzzer runs both).
#ifndef RCON_PLATFORM_H
#define RCON_PLATFORM_H

#include <signal.h>
#include <stddef.h>

#ifdef _WIN32
#include <winsock2.h>
typedef SOCKET rcon_socket;
#define RCON_NO_SOCKET INVALID_SOCKET
// The C runtime reads text-mode files itself: CR LF as LF, 0x1A as the end.
#define SCRIPT_RUNTIME_TRANSLATES 1
#else
#include <arpa/inet.h>
#include <netinet/in.h>
typedef int rcon_socket;
#define RCON_NO_SOCKET (-1)
// Files are bytes here: the script reader applies the text-mode rules.
#define SCRIPT_RUNTIME_TRANSLATES 0
#endif

/// The signals that ask for an orderly stop.
inline constexpr int STOP_SIGNALS[] = {SIGABRT, SIGINT, SIGTERM};

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

/// Returns 1 if a datagram (or an error) is waiting on \a sock, 0 otherwise;
/// never waits.
int socket_readable_now(rcon_socket sock);

/// Receives one datagram of at most \a cap bytes into \a buf and its source
/// into \a from. Returns its length, or -1 when the receive failed or the
/// datagram was longer than \a cap (the datagram is then lost).
long datagram_receive(rcon_socket sock, char* buf, size_t cap, sockaddr_in* from);

/// Installs \a handler for STOP_SIGNALS for the whole run, and readies what
/// stop_signal_hook() needs to wake a wait.
void install_stop_handler(void (*handler)(int));

/// Called by the handler after it has set the stop flag: puts the handler
/// back where the runtime reset it to the default action (Windows), and
/// wakes pause_half_second() and script_file_read() where the signal alone
/// does not. Does only what a signal handler may do.
void stop_signal_hook(int sig);

/// Pauses for half a second, or less once \a stop is set: a stop that
/// arrives before or during the pause ends it at once, except on Windows
/// when the stop handler could not be readied, where the pause runs its
/// full half second.
void pause_half_second(const volatile sig_atomic_t* stop);

/// Opens the script at \a path for reading, in text mode where the platform
/// has one, without waiting for a FIFO's writer. Returns a descriptor, or -1
/// if it cannot be opened.
int script_file_open(const char* path);

/// Reads at most \a cap bytes of the script as soon as there are any, so that
/// a line from a pipe or a terminal is seen the moment it is complete.
/// Returns how many were read; 0 at the end, after a read error, or once
/// \a stop is set while it waits (POSIX; on Windows a read from a pipe waits
/// for its data).
long script_file_read(int fd, unsigned char* buf, size_t cap,
                      const volatile sig_atomic_t* stop);

void script_file_close(int fd);

/// Opens whichever of descriptors 0, 1 and 2 is closed on the null device,
/// so that neither the socket nor the script can take its place and be
/// written to as standard output. Their use still fails as on a closed
/// descriptor: 0 is opened for writing only, 1 and 2 for reading only.
void hold_standard_descriptors();

/// Writes all \a len bytes of \a data to descriptor \a fd, standard output
/// or standard error. Returns 0, or the error number of the write that
/// failed. Once a stop has been asked for, output has about a second to go
/// out: a reader that has stopped reading must not hold the stop. Then a
/// write that cannot go out at once fails with EINTR (POSIX; on Windows a
/// write waits for its reader).
int output_write(int fd, const char* data, size_t len);

/// Returns 1 if standard output is a terminal, 0 otherwise.
int stdout_is_terminal();

#endif
