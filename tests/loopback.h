// Loopback UDP peers for the tests and the benchmark: the stand-in server,
// and the bytes it exchanges with the program.
// They use the program's own socket types, so they build wherever the
// program does; the socket library must be started.
#ifndef RCON_TESTS_LOOPBACK_H
#define RCON_TESTS_LOOPBACK_H

#include <string>

#include "platform/platform.h"

// The length of a socket address, as each system's calls take it.
#ifdef _WIN32
typedef int rcon_socklen;
#else
typedef socklen_t rcon_socklen;
#endif

struct udp_peer {
  rcon_socket sock;
  sockaddr_in addr;  // where it is bound
};

/// Returns a UDP socket bound to \a ip and \a port (0: one the system picks);
/// sock is RCON_NO_SOCKET on failure.
udp_peer udp_peer_open(const char* ip = "127.0.0.1", int port = 0);

/// Returns "ADDRESS:PORT" of \a peer, as the program takes it.
std::string endpoint_of(const udp_peer& peer);

/// Waits up to \a ms for one datagram. Returns true and fills \a data (and
/// \a from, if given) when one came.
bool udp_receive(const udp_peer& peer, std::string* data, int ms,
                 sockaddr_in* from = nullptr);

void udp_send(const udp_peer& peer, const std::string& data, const sockaddr_in& to);

/// Returns the console-output reply with \a text.
inline std::string reply_datagram(const std::string& text) {
  return "\xFF\xFF\xFF\xFFprint\n" + text;
}

/// Returns the command datagram for \a text with the tests' password, "pw".
inline std::string command(const std::string& text) {
  return "\xFF\xFF\xFF\xFFrcon \"pw\" " + text + '\0';
}

#endif
