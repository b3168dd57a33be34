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

const char* reply_text(const char* buf, size_t len) {
  if (len < RCON_REPLY_HEADER_LEN) return nullptr;
  if (memcmp(buf, reply_header, RCON_REPLY_HEADER_LEN) != 0) return nullptr;
  return buf + RCON_REPLY_HEADER_LEN;
}
