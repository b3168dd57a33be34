#include "link/rcon_link.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "link/datagram.h"
#include "link/decimal.h"

int rcon_open(rcon_link* link, char* endpoint, const char* password) {
  if (!net_start()) return 0;
  link->sock = udp_socket_open();
  if (!socket_ok(link->sock)) {
    net_stop();
    return 0;
  }
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

// Returns 1 if \a from is the server's address and port.
static int from_server(const sockaddr_in* from, const sockaddr_in* server) {
  return from->sin_family == AF_INET &&
         from->sin_addr.s_addr == server->sin_addr.s_addr &&
         from->sin_port == server->sin_port;
}

int rcon_poll(const rcon_link* link) {
  char buf[RCON_RECEIVE_MAX + 1];
  if (!socket_readable_now(link->sock)) return 0;
  sockaddr_in from;
  long len = datagram_receive(link->sock, buf, RCON_RECEIVE_MAX, &from);
  buf[RCON_RECEIVE_MAX] = '\0';
  if (len <= 0) return 0;
  long text = reply_text_length(buf, len);
  if (text < 0) return static_cast<int>(len);
  buf[len] = '\0';
  if (text == 0) return 0;
  if (from_server(&from, &link->server_addr))
    fputs(buf + RCON_REPLY_HEADER_LEN, stdout);
  return static_cast<int>(text);
}

void rcon_drain(const rcon_link* link) {
  while (rcon_poll(link) > 0) {
  }
}
