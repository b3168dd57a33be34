#include "link/rcon_link.h"

#include <stdint.h>
#include <string.h>

#include "link/datagram.h"
#include "number/decimal.h"
#include "output/output.h"

enum { DROPPED_SAID_EVERY_MS = 60000 };  // at most one message a minute

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
  link->unsent = 0;
  link->failing = 0;
  link->dropped_said = 0;
  link->said_dropped_ms = -DROPPED_SAID_EVERY_MS;  // so the first is said at once
  return 1;
}

void rcon_close(rcon_socket sock) {
  socket_shutdown_close(sock);
  net_stop();
}

void rcon_send(rcon_link* link, const char* command) {
  char datagram[RCON_SEND_MAX];
  size_t len = build_command_datagram(datagram, link->password, command);
  const char* why = "too long for one datagram";
  if (len > 0) why = socket_send(link->sock, datagram, len, &link->server_addr);
  if (why == nullptr) {
    link->failing = 0;
    return;
  }
  if (!link->failing) say_not_sent(why);
  link->unsent = 1;
  link->failing = 1;
}

// Returns 1 if \a from is the server's address and port; nothing else of the
// address counts.
static int from_server(const sockaddr_in* from, const sockaddr_in* server) {
  return from->sin_family == AF_INET &&
         from->sin_addr.s_addr == server->sin_addr.s_addr &&
         from->sin_port == server->sin_port;
}

// The tally also counts a datagram that ends the drain, so that no flood of
// them is taken for a quiet socket.
int rcon_poll(const rcon_link* link, rcon_tally* tally) {
  // A byte more than the longest datagram that is taken: one that fills it
  // too is lost, whether the system cut it short or refused it.
  char buf[RCON_RECEIVE_MAX + 1];
  sockaddr_in from;
  memset(&from, 0, sizeof from);  // a sender left unsaid is nobody's
  long len = socket_receive(link->sock, buf, sizeof buf, &from);
  if (len < 0) return 0;
  tally->taken++;
  // Anyone else's datagram is skipped, whatever it holds: no stranger can end
  // a drain and so hold the server's replies back.
  if (!from_server(&from, &link->server_addr)) return 1;
  tally->from_server++;
  if (len == 0 || len > RCON_RECEIVE_MAX) return 0;
  buf[len] = '\0';  // a reply's text is printed up to its first zero byte
  const char* text = reply_text(buf, static_cast<size_t>(len));
  if (text == nullptr) return static_cast<int>(len);
  int text_len = static_cast<int>(len - RCON_REPLY_HEADER_LEN);
  if (text_len > 0) print_text(text);
  return text_len;
}

// Only a drain that took something can have met a full receive buffer: one
// that took nothing costs no look at the system's count.
rcon_drained rcon_drain(rcon_link* link) {
  rcon_tally tally = {0, 0};
  for (int polls = 0; polls < RCON_DRAIN_MAX; polls++) {
    if (rcon_poll(link, &tally) == 0) break;
  }
  if (tally.taken == 0) return DRAINED_NOTHING;
  (void)rcon_say_dropped(link, 0);
  return tally.from_server > 0 ? DRAINED_SERVER : DRAINED_OTHERS;
}

// The system's count is 32 bits wide and may wrap; the difference is right
// all the same.
int rcon_say_dropped(rcon_link* link, int at_end) {
  unsigned dropped = socket_dropped(link->sock);
  unsigned unsaid = dropped - link->dropped_said;
  long long now = monotonic_ms();
  int due = at_end || now - link->said_dropped_ms >= DROPPED_SAID_EVERY_MS;
  if (unsaid > 0 && due) {
    say_dropped(unsaid);
    link->dropped_said = dropped;
    link->said_dropped_ms = now;
  }
  return dropped > 0;
}
