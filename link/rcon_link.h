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

/// A kind of loss that is said on standard error at most once a minute.
struct rcon_loss_count {
  unsigned counted;      // so far in the run, wrapping around at 32 bits
  unsigned said;         // how many of those a message has said
  long long said_at_ms;  // when the last message was said, by monotonic_ms()
};

/// One per run, owned by the script runner.
struct rcon_link {
  rcon_socket sock;
  sockaddr_in server_addr;  // port and address in network byte order
  // The run's own copy of the password. One that fills it, cut short,
  // could never be sent: no command datagram holds it.
  char password[RCON_SEND_MAX];
  int tied;                  // 1 while sock is tied to server_addr
  int lost;                  // 1 once the run has lost a command or a reply
  int not_sent_said;         // 1 from a command not sent until one goes out
  int refusal_said;          // 1 from a refusal until the server's datagram
  rcon_loss_count dropped;   // datagrams that the system dropped
  rcon_loss_count too_long;  // the server's datagrams too long to print
  long too_long_bytes;       // the last one's length, if the system told it
};

/// Keeps a copy of the password \a argument in \a link.
void rcon_keep_password(rcon_link* link, const char* argument);

/// Reads the server's "ADDRESS:PORT" from \a endpoint, which it leaves as it
/// is, opens the UDP socket and ties it to the server's address and port, so
/// that the system takes in the server's datagrams alone. Returns 1 on
/// success, also when the socket cannot be tied yet (no route to the server:
/// the next command tries again); 0 on failure, also for an endpoint that
/// cannot be used: an address that is not four plain decimal numbers from 0
/// to 255 (no name is looked up, no octal, hex or short form is read),
/// 0.0.0.0, 255.255.255.255, anything but a colon right after the address,
/// or a port that is not from 1 to 65535.
int rcon_open(rcon_link* link, const char* endpoint);

/// Shuts the link's socket down, closes it and stops the socket library. On
/// Windows a socket whose shutdown fails is not closed itself: stopping the
/// library releases it.
void rcon_close(rcon_socket sock);

/// Sends \a command to the server as one command datagram. When it cannot go
/// out (the datagram would not fit in RCON_SEND_MAX bytes, or the system
/// refuses it), nothing is sent, lost is set, and the reason is said on
/// standard error: once, until a command goes out again, so that a loop
/// through a network outage says it once. A send that the system fails with
/// a report of an earlier command's refusal (socket_error_report()) says it
/// as rcon_poll() does, and is tried once more; one that fails as
/// unreachable twice is tried once more on the socket tied afresh, since
/// the host may have changed its address.
void rcon_send(rcon_link* link, const char* command);

/// Takes at most one datagram off the socket without waiting, and prints its
/// text if it is a console-output reply from the server's own address and
/// port. A report that the server's port refused, or its host could not be
/// reached by, an earlier command is said on standard error, once until the
/// server's datagram comes again, and sets lost. Returns 0 when the drain is
/// to end: nothing waiting, a failed receive, or from the server an empty
/// datagram, one too long (counted in too_long) or a reply with no text.
/// Otherwise returns the reply's text length, the length of the server's
/// datagram that is no reply, or 1 for a report or anyone else's datagram,
/// which is skipped whatever it holds. Counts in \a taken each datagram or
/// report it takes.
int rcon_poll(rcon_link* link, int* taken);

/// Polls until rcon_poll() returns 0, or RCON_DRAIN_MAX datagrams have been
/// taken: a flood cannot hold the script, or a stop, for more than one
/// drain's worth. That is far more than the receive buffer holds at once, so
/// a drain still takes all that waited when it began; the rest waits for the
/// next drain. A drain that took anything then says what was lost meanwhile
/// (rcon_say_losses()).
void rcon_drain(rcon_link* link);

/// Says on standard error what the run lost since it last said so: the
/// datagrams that the system dropped on the link's socket, its receive
/// buffer full, and the server's datagrams too long to print. Each kind is
/// said at once the first time, then at most once a minute, so that a flood
/// cannot fill a log; and, \a at_end, all that is still unsaid. Sets lost
/// once it has said any. Where the system keeps no count of what it
/// dropped (Windows, macOS), it never says that.
void rcon_say_losses(rcon_link* link, int at_end);

#endif
