// Loopback UDP peers for the tests and the benchmark: the stand-in server
// and its impostors.
#ifndef RCON_TESTS_LOOPBACK_H
#define RCON_TESTS_LOOPBACK_H

#include <netinet/in.h>

#include <string>

struct udp_peer {
  int fd;
  sockaddr_in addr;  // where it is bound
};

/// Returns a UDP socket bound to \a ip on a port the kernel picks; fd is -1
/// on failure.
udp_peer udp_peer_open(const char* ip = "127.0.0.1");

/// Waits up to \a ms for one datagram. Returns true and fills \a data (and
/// \a from, if given) when one came.
bool udp_receive(int fd, std::string* data, int ms, sockaddr_in* from = nullptr);

void udp_send(int fd, const std::string& data, const sockaddr_in& to);

#endif
