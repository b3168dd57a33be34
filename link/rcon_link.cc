#include "link/rcon_link.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "link/datagram.h"
#include "number/decimal.h"
#include "output/output.h"

enum { LOSS_SAID_EVERY_MS = 60000 };  // at most one message a minute of each loss

// Reads the server's address from \a endpoint, "ADDRESS:PORT", into \a addr.
// Returns 0, with \a addr unchanged, unless the address is four plain
// decimal numbers (no name is looked up) other than 0.0.0.0 and
// 255.255.255.255, followed at once by the colon and a port from 1 to 65535.
// A server's log names 0.0.0.0 for "all my addresses", which no host has:
// sent there, a command reaches this machine, whose replies are not printed.
static int read_endpoint(const char* endpoint, sockaddr_in* addr) {
  uint32_t address;
  const char* colon = parse_dotted_quad(endpoint, &address);
  if (colon == nullptr || *colon != ':') return 0;
  if (address == 0 || address == UINT32_MAX) return 0;
  uint16_t port = parse_port(colon + 1);
  if (port == 0) return 0;
  memset(addr, 0, sizeof *addr);
  addr->sin_family = AF_INET;
  addr->sin_addr.s_addr = htonl(address);
  addr->sin_port = htons(port);
  return 1;
}

void rcon_keep_password(rcon_link* link, const char* argument) {
  size_t len = strlen(argument);
  size_t kept = len < sizeof link->password ? len : sizeof link->password - 1;
  memcpy(link->password, argument, kept);
  link->password[kept] = '\0';
}

// Ties the link's socket to the server. Returns 0, or the system's error.
static int tie(rcon_link* link) {
  int err = socket_connect(link->sock, &link->server_addr);
  link->tied = err == 0;
  return err;
}

int rcon_open(rcon_link* link, const char* endpoint) {
  // An endpoint that cannot be used leaves nothing to undo.
  if (!read_endpoint(endpoint, &link->server_addr)) return 0;
  if (!net_start()) return 0;
  link->sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (link->sock == RCON_NO_SOCKET) {
    net_stop();
    return 0;
  }
  socket_ask_receive_buffer(link->sock, RCON_RECEIVE_BUFFER);
  (void)tie(link);  // if it cannot be tied yet, the first command tries again
  link->lost = 0;
  link->not_sent_said = 0;
  link->refusal_said = 0;
  // So that the first of each loss is said at once.
  link->dropped = {0, 0, -LOSS_SAID_EVERY_MS};
  link->too_long = {0, 0, -LOSS_SAID_EVERY_MS};
  link->too_long_bytes = 0;
  return 1;
}

void rcon_close(rcon_socket sock) {
  socket_shutdown_close(sock);
  net_stop();
}

// Says, once until the server's datagram comes again, what the report \a err
// says of the server.
static void heard_report(rcon_link* link, int err) {
  link->lost = 1;
  if (link->refusal_said) return;
  link->refusal_said = 1;
  char endpoint[sizeof "255.255.255.255:65535"];
  uint32_t address = ntohl(link->server_addr.sin_addr.s_addr);
  (void)snprintf(endpoint, sizeof endpoint, "%u.%u.%u.%u:%u", address >> 24,
                 (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF,
                 ntohs(link->server_addr.sin_port));
  if (socket_error_report(err) == REPORT_REFUSED) {
    say_refused(endpoint, socket_error_text(err));
  } else {
    say_unreachable(endpoint, socket_error_text(err));
  }
}

// Sends the \a len bytes of \a datagram over the tied socket, tying it
// first if it is not. Returns 0 once it has gone out, or the error of the
// last try.
static int send_datagram(rcon_link* link, const char* datagram, size_t len) {
  if (!link->tied) {
    int err = tie(link);
    if (err != 0) return err;
  }
  int err = socket_send(link->sock, datagram, len);
  socket_report report = socket_error_report(err);
  if (err == 0 || report == REPORT_NONE) return err;
  // A report fails the one send that the system hands it to; only this
  // side's routing fails a send as unreachable twice.
  int again = socket_send(link->sock, datagram, len);
  if (again == 0 || report == REPORT_REFUSED) heard_report(link, err);
  if (socket_error_report(again) != REPORT_UNREACHABLE) return again;
  // A socket tied while the host had another address fails every send:
  // tied afresh, it takes a new address and local port.
  socket_disconnect(link->sock);
  err = tie(link);
  if (err != 0) return err;
  return socket_send(link->sock, datagram, len);
}

void rcon_send(rcon_link* link, const char* command) {
  char datagram[RCON_SEND_MAX];
  size_t len = build_command_datagram(datagram, link->password, command);
  const char* why = "too long for one datagram";
  if (len > 0) {
    int err = send_datagram(link, datagram, len);
    if (err == 0) {
      link->not_sent_said = 0;
      return;
    }
    why = socket_error_text(err);
  }
  if (!link->not_sent_said) say_not_sent(why);
  link->not_sent_said = 1;
  link->lost = 1;
}

// Returns 1 if \a from is the server's address and port; nothing else of the
// address counts.
static int from_server(const sockaddr_in* from, const sockaddr_in* server) {
  return from->sin_family == AF_INET &&
         from->sin_addr.s_addr == server->sin_addr.s_addr &&
         from->sin_port == server->sin_port;
}

// A datagram that ends the drain counts as taken too, so that no flood of
// them is taken for a quiet socket.
int rcon_poll(rcon_link* link, int* taken) {
  // A byte more than the longest datagram that is taken: one that fills it
  // too is lost, whether the system cut it short or refused it.
  char buf[RCON_RECEIVE_MAX + 1];
  sockaddr_in from;
  memset(&from, 0, sizeof from);  // a sender left unsaid is nobody's
  long len = socket_receive(link->sock, buf, sizeof buf, &from);
  if (len < 0 && socket_error_report(static_cast<int>(-len)) != REPORT_NONE) {
    (*taken)++;
    heard_report(link, static_cast<int>(-len));
    return 1;
  }
  if (len < 0) return 0;
  (*taken)++;
  // The tied socket takes in the server's datagrams alone; should anyone
  // else's come all the same, it is skipped, whatever it holds, and ends no
  // drain.
  if (!from_server(&from, &link->server_addr)) return 1;
  link->refusal_said = 0;
  if (len > RCON_RECEIVE_MAX) {
    link->too_long.counted++;
    link->too_long_bytes = len;
    return 0;
  }
  if (len == 0) return 0;
  buf[len] = '\0';  // a reply's text is printed up to its first zero byte
  const char* text = reply_text(buf, static_cast<size_t>(len));
  if (text == nullptr) return static_cast<int>(len);
  int text_len = static_cast<int>(len - RCON_REPLY_HEADER_LEN);
  if (text_len > 0) print_text(text);
  return text_len;
}

// Only a drain that took something can have met a full receive buffer or a
// datagram too long: one that took nothing costs no look at the system's
// count.
void rcon_drain(rcon_link* link) {
  int taken = 0;
  for (int polls = 0; polls < RCON_DRAIN_MAX; polls++) {
    if (rcon_poll(link, &taken) == 0) break;
  }
  if (taken > 0) rcon_say_losses(link, 0);
}

// Returns how many of \a loss's count are to be said \a now, and takes them
// as said: the first at once, then none within a minute of the last
// message; \a at_end, all that are still unsaid. The count may wrap
// around; the difference is right all the same.
static unsigned due_to_say(rcon_loss_count* loss, long long now, int at_end) {
  unsigned unsaid = loss->counted - loss->said;
  if (unsaid == 0) return 0;
  if (!at_end && now - loss->said_at_ms < LOSS_SAID_EVERY_MS) return 0;
  loss->said = loss->counted;
  loss->said_at_ms = now;
  return unsaid;
}

void rcon_say_losses(rcon_link* link, int at_end) {
  long long now = monotonic_ms();
  link->dropped.counted = socket_dropped(link->sock);
  unsigned dropped = due_to_say(&link->dropped, now, at_end);
  if (dropped > 0) say_dropped(dropped);
  unsigned too_long = due_to_say(&link->too_long, now, at_end);
  if (too_long > 0) {
    say_too_long(too_long, link->too_long_bytes, RCON_RECEIVE_MAX,
                 RCON_RECEIVE_MAX - RCON_REPLY_HEADER_LEN);
  }
  if (dropped > 0 || too_long > 0) link->lost = 1;
}
