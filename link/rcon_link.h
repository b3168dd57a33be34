// The remote-console link: the UDP endpoint towards the game server and the
// datagrams exchanged with it.
#ifndef RCON_LINK_H
#define RCON_LINK_H

#include "link/datagram.h"
#include "platform/platform.h"

enum {
  RCON_RECEIVE_BUFFER = 3 << 19,  // bytes asked of the system: 1.5 MiB
  RCON_DRAIN_MAX = 1 << 16,       // datagrams one drain takes at most
};

/// One per run, owned by the script runner.
struct rcon_link {
  rcon_socket sock;
  sockaddr_in server_addr;  // port and address in network byte order
  // The run's own copy of the password. One that fills it, cut short,
  // could never be sent: no command datagram holds it.
  char password[RCON_SEND_MAX];
  int unsent;                 // 1 once a command could not go out
  int failing;                // 1 from a command that could not go out until one does
  unsigned dropped_said;      // datagrams dropped that a message has counted
  long long said_dropped_ms;  // when the last such message was said
};

/// Keeps a copy of the password \a argument in \a link.
void rcon_keep_password(rcon_link* link, const char* argument);

/// Reads the server's "ADDRESS:PORT" from \a endpoint, which it leaves as it
/// is, and opens the UDP socket. Returns 1 on success; 0 on failure, also
/// for an endpoint that cannot be used: an address that is not four plain
/// decimal numbers from 0 to 255 (no name is looked up, no octal, hex or
/// short form is read), 0.0.0.0, 255.255.255.255, anything but a colon right
/// after the address, or a port that is not from 1 to 65535.
int rcon_open(rcon_link* link, const char* endpoint);

/// Shuts the link's socket down, closes it and stops the socket library. On
/// Windows a socket whose shutdown fails is not closed itself: stopping the
/// library releases it.
void rcon_close(rcon_socket sock);

/// Sends \a command to the server as one command datagram. When it cannot go
/// out (the datagram would not fit in RCON_SEND_MAX bytes, or the system
/// refuses it), nothing is sent, unsent is set, and the reason is said on
/// standard error: once, until a command goes out again, so that a loop
/// through a network outage says it once.
void rcon_send(rcon_link* link, const char* command);

/// What one drain has taken off the socket, and how much of it came from the
/// server's own address and port.
struct rcon_tally {
  int taken;
  int from_server;
};

/// Takes at most one datagram off the socket without waiting, and prints its
/// text if it is a console-output reply from the server's own address and
/// port. Returns 0 when the drain is to end: nothing waiting, a failed
/// receive, or from the server an empty datagram, one too long or a reply
/// with no text. Otherwise returns the reply's text length, the length of
/// the server's datagram that is no reply, or 1 for anyone else's datagram,
/// which is skipped whatever it holds. Counts in \a tally each datagram it
/// takes, and each that came from the server.
int rcon_poll(const rcon_link* link, rcon_tally* tally);

/// What a drain took.
enum rcon_drained { DRAINED_NOTHING, DRAINED_OTHERS, DRAINED_SERVER };

/// Polls until rcon_poll() returns 0, or RCON_DRAIN_MAX datagrams have been
/// taken: a flood from anywhere cannot hold the script, or a stop, for more
/// than one drain's worth. That is far more than the receive buffer holds at
/// once, so a drain still takes all that waited when it began; the rest
/// waits for the next drain. A drain that took anything then says what the
/// system dropped meanwhile (rcon_say_dropped()). Returns DRAINED_SERVER if
/// it took any datagram of the server's, printed or not, DRAINED_OTHERS if it
/// took only others'.
rcon_drained rcon_drain(rcon_link* link);

/// Says on standard error how many datagrams the system has dropped on the
/// link's socket, its receive buffer full, since it last said so: at once
/// the first time, then at most once a minute, so that a flood cannot fill
/// a log; and, \a at_end, all that is still unsaid. Where the system keeps
/// no such count (Windows, macOS), it never says anything. Returns 1 if the
/// system has dropped any datagram in the run.
int rcon_say_dropped(rcon_link* link, int at_end);

#endif
