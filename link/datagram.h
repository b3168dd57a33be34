// The two datagrams of the remote-console protocol, as bytes.
#ifndef RCON_DATAGRAM_H
#define RCON_DATAGRAM_H

#include <stddef.h>

#include "platform/platform.h"

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

/// Classifies the \a len bytes received into \a buf from \a from. Sets
/// \a text to the text of a console-output reply that came from \a server,
/// zero-terminated at its end, and to nullptr for anything else. \a buf must
/// have room for one byte after the datagram. Returns 0 for an empty
/// datagram or a reply with no text, the text length for any other reply,
/// and the datagram's length for anything else.
int take_datagram(char* buf, long len, const sockaddr_in* from,
                  const sockaddr_in* server, const char** text);

#endif
