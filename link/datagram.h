// The two datagrams of the remote-console protocol, as bytes.
#ifndef RCON_DATAGRAM_H
#define RCON_DATAGRAM_H

#include <stddef.h>

enum {
  RCON_SEND_MAX = 1024,     // the longest command datagram, zero byte included
  RCON_RECEIVE_MAX = 1500,  // the longest datagram taken off the socket
  RCON_REPLY_HEADER_LEN = 10,
};

/// Writes the command datagram for \a command into \a out: four 0xFF bytes,
/// "rcon ", the password in double quotes, a space, the command and a zero
/// byte. Returns its length, zero byte included, or 0 when it does not fit.
size_t build_command_datagram(char (&out)[RCON_SEND_MAX], const char* password,
                              const char* command);

/// Returns the text of the console-output reply of \a len bytes in \a buf:
/// what follows the ten-byte header "\xFF\xFF\xFF\xFFprint\n". Returns
/// nullptr for a datagram that is no such reply.
const char* reply_text(const char* buf, size_t len);

#endif
