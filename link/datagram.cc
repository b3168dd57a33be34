#include "link/datagram.h"

#include <stdio.h>
#include <string.h>

static const char reply_header[] = "\xFF\xFF\xFF\xFFprint\n";

size_t build_command_datagram(char (&out)[RCON_SEND_MAX], const char* password,
                              const char* command) {
  int header = snprintf(out, sizeof out, "\xFF\xFF\xFF\xFFrcon \"%s\" ", password);
  if (header < 0 || static_cast<size_t>(header) >= sizeof out) return 0;
  size_t room = sizeof out - static_cast<size_t>(header);
  size_t text = strlen(command);
  if (text + 1 > room) return 0;
  // Copied, never formatted: a '%' in the command goes out as it is.
  memcpy(out + header, command, text + 1);
  return static_cast<size_t>(header) + text + 1;
}

// Returns 1 if \a from is the server's address and port; nothing else of the
// address counts.
static int from_server(const sockaddr_in* from, const sockaddr_in* server) {
  return from->sin_family == AF_INET &&
         from->sin_addr.s_addr == server->sin_addr.s_addr &&
         from->sin_port == server->sin_port;
}

int take_datagram(char* buf, long len, const sockaddr_in* from,
                  const sockaddr_in* server, FILE* out) {
  if (len <= 0) return 0;
  if (len < RCON_REPLY_HEADER_LEN ||
      memcmp(buf, reply_header, RCON_REPLY_HEADER_LEN) != 0)
    return static_cast<int>(len);
  buf[len] = '\0';
  if (len == RCON_REPLY_HEADER_LEN) return 0;
  if (from_server(from, server)) (void)fputs(buf + RCON_REPLY_HEADER_LEN, out);
  return static_cast<int>(len - RCON_REPLY_HEADER_LEN);
}
