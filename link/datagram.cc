#include "link/datagram.h"

#include <string.h>

static const char reply_header[] = "\xFF\xFF\xFF\xFFprint\n";

static const char command_start[] = "\xFF\xFF\xFF\xFFrcon \"";

// The same bytes as formatting the password into "\xFF\xFF\xFF\xFFrcon \"%s\" ",
// without a format pass for every command. Password and command are copied
// as they are: a '%' or a '"' in either goes out unchanged.
size_t build_command_datagram(char (&out)[RCON_SEND_MAX], const char* password,
                              const char* command) {
  size_t start = sizeof command_start - 1;
  size_t pw = strlen(password);
  size_t text = strlen(command);
  // Two strings in memory, each under half the address space, cannot make
  // this sum wrap around.
  size_t len = start + pw + 2 + text + 1;
  if (len > sizeof out) return 0;
  memcpy(out, command_start, start);
  memcpy(out + start, password, pw);
  memcpy(out + start + pw, "\" ", 2);
  memcpy(out + start + pw + 2, command, text + 1);
  return len;
}

int classify_datagram(char* buf, long len, const char** text) {
  *text = nullptr;
  if (len <= 0) return 0;
  if (len < RCON_REPLY_HEADER_LEN ||
      memcmp(buf, reply_header, RCON_REPLY_HEADER_LEN) != 0)
    return static_cast<int>(len);
  buf[len] = '\0';
  if (len == RCON_REPLY_HEADER_LEN) return 0;
  *text = buf + RCON_REPLY_HEADER_LEN;
  return static_cast<int>(len - RCON_REPLY_HEADER_LEN);
}
