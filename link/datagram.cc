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

long reply_text_length(const char* data, long len) {
  if (len < RCON_REPLY_HEADER_LEN ||
      memcmp(data, reply_header, RCON_REPLY_HEADER_LEN) != 0)
    return -1;
  return len - RCON_REPLY_HEADER_LEN;
}
