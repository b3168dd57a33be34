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

/// Classifies the result of one receive: \a len bytes in \a buf, or a
/// negative \a len for a failed receive. Sets \a text to the text of a
/// console-output reply, zero-terminated at the datagram's end, and to
/// nullptr for anything else; \a buf must have room for one byte after the
/// datagram. Returns 0 for a failed receive, an empty datagram or a reply
/// with no text, the text length for any other reply, and the datagram's
/// length for anything else.
int classify_datagram(char* buf, long len, const char** text);

#endif
