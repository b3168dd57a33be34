// The few operating-system facilities that differ between Windows and POSIX.
// Everything above this header is written once for both.
#ifndef RCON_PLATFORM_H
#define RCON_PLATFORM_H

#include <signal.h>
#include <stddef.h>

#ifdef _WIN32
#include <winsock2.h>
typedef SOCKET rcon_socket;
// The C runtime reads text-mode files itself: CR LF as LF, 0x1A as the end.
#define SCRIPT_RUNTIME_TRANSLATES 1
#else
#include <arpa/inet.h>
#include <netinet/in.h>
typedef int rcon_socket;
// Files are bytes here: the script reader applies the text-mode rules.
#define SCRIPT_RUNTIME_TRANSLATES 0
#endif

/// Starts the socket library. Returns 1 on success, 0 on failure.
int net_start();

/// Stops the socket library again.
void net_stop();

/// Returns a new UDP socket, or a value that socket_ok() rejects.
rcon_socket udp_socket_open();

/// Returns 1 if \a sock is a socket, 0 for the failure value.
int socket_ok(rcon_socket sock);

/// Asks for a receive buffer of \a bytes on \a sock, so that a burst of
/// replies that comes during a pause is not lost. Best effort: the system may
/// grant less, and nothing is reported.
void socket_ask_receive_buffer(rcon_socket sock, int bytes);

/// Closes a socket that was never used.
void socket_discard(rcon_socket sock);

/// Shuts both directions of \a sock down and closes it.
void socket_shutdown_close(rcon_socket sock);

/// Sends \a len bytes of \a data as one datagram to \a to.
void datagram_send(rcon_socket sock, const char* data, size_t len,
                   const sockaddr_in* to);

/// Returns 1 if a datagram (or an error) is waiting on \a sock, 0 otherwise;
/// never waits.
int socket_readable_now(rcon_socket sock);

/// Receives one datagram of at most \a cap bytes into \a buf and its source
/// into \a from. Returns its length, or -1 when the receive failed or the
/// datagram was longer than \a cap (the datagram is then lost).
long datagram_receive(rcon_socket sock, char* buf, size_t cap, sockaddr_in* from);

/// Pauses for half a second, or not at all once \a stop is set: a stop signal
/// that arrives before or during the pause ends it.
void pause_half_second(const volatile sig_atomic_t* stop);

/// Opens the script at \a path for reading, in text mode where the platform
/// has one, without waiting for a FIFO's writer. Returns a descriptor, or -1
/// if it cannot be opened.
int script_file_open(const char* path);

/// Reads at most \a cap bytes of the script as soon as there are any, so that
/// a line from a pipe or a terminal is seen the moment it is complete.
/// Returns how many were read; 0 at the end, after a read error, or once
/// \a stop is set while it waits (where the platform can wait that way).
long script_file_read(int fd, unsigned char* buf, size_t cap,
                      const volatile sig_atomic_t* stop);

void script_file_close(int fd);

/// Opens whichever of descriptors 0, 1 and 2 is closed on the null device,
/// so that neither the socket nor the script can take its place and be
/// written to as standard output. Their use still fails as on a closed
/// descriptor: 0 is opened for writing only, 1 and 2 for reading only.
void hold_standard_descriptors();

/// Installs \a handler for SIGABRT, SIGINT and SIGTERM for the whole run.
void install_stop_handler(void (*handler)(int));

/// Called by the handler once the stop flag is set: ends a pause that is
/// under way where a signal alone does not.
void wake_from_pause();

/// Called first thing in the handler: where the runtime resets a signal to
/// its default action before calling the handler, puts \a handler back.
void keep_stop_handler(int sig, void (*handler)(int));

/// Returns 1 if standard output is a terminal, 0 otherwise.
int stdout_is_terminal();

#endif
