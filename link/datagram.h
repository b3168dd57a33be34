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

/// Returns the length of the console text of a console-output reply, or -1
/// when the \a len bytes at \a data are not one.
long reply_text_length(const char* data, long len);

#endif
