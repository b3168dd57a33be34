#include "link/rcon_link.h"

#include <stdint.h>
#include <string.h>

#include "link/datagram.h"
#include "link/decimal.h"
#include "link/output.h"

int rcon_open(rcon_link* link, char* endpoint, const char* password) {
  if (!net_start()) return 0;
  link->sock = udp_socket_open();
  if (!socket_ok(link->sock)) {
    net_stop();
    return 0;
  }
  socket_ask_receive_buffer(link->sock, RCON_RECEIVE_BUFFER);
  char* colon = strchr(endpoint, ':');
  if (colon == nullptr) {
    socket_discard(link->sock);
    net_stop();
    return 0;
  }
  *colon = '\0';
  memset(&link->server_addr, 0, sizeof link->server_addr);
  link->server_addr.sin_family = AF_INET;
  link->server_addr.sin_addr.s_addr = inet_addr(endpoint);
  link->server_addr.sin_port =
      htons(static_cast<uint16_t>(parse_decimal_wrapped(colon + 1)));
  link->password = password;
  return 1;
}

void rcon_close(rcon_socket sock) {
  socket_shutdown_close(sock);
  net_stop();
}

void rcon_send(const rcon_link* link, const char* command) {
  char datagram[RCON_SEND_MAX];
  size_t len = build_command_datagram(datagram, link->password, command);
  if (len > 0) datagram_send(link->sock, datagram, len, &link->server_addr);
}

int rcon_poll(const rcon_link* link) {
  char buf[RCON_RECEIVE_MAX + 1];
  if (!socket_readable_now(link->sock)) return 0;
  sockaddr_in from;
  long len = datagram_receive(link->sock, buf, RCON_RECEIVE_MAX, &from);
  buf[RCON_RECEIVE_MAX] = '\0';
  const char* text;
  int result = take_datagram(buf, len, &from, &link->server_addr, &text);
  if (text != nullptr) print_text(text);
  return result;
}

void rcon_drain(const rcon_link* link) {
  for (int taken = 0; taken < RCON_DRAIN_MAX; taken++)
    if (rcon_poll(link) == 0) return;
}
