#include "tests/loopback.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

udp_peer udp_peer_open(const char* ip) {
  udp_peer peer = {socket(AF_INET, SOCK_DGRAM, 0), {}};
  peer.addr.sin_family = AF_INET;
  peer.addr.sin_addr.s_addr = inet_addr(ip);
  socklen_t len = sizeof peer.addr;
  if (bind(peer.fd, reinterpret_cast<sockaddr*>(&peer.addr), len) != 0 ||
      getsockname(peer.fd, reinterpret_cast<sockaddr*>(&peer.addr), &len) != 0) {
    close(peer.fd);
    peer.fd = -1;
  }
  return peer;
}

bool udp_receive(int fd, std::string* data, int ms, sockaddr_in* from) {
  pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  static char buf[65536];
  socklen_t len = sizeof *from;
  ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(from),
                       from ? &len : nullptr);
  if (n < 0) return false;
  data->assign(buf, static_cast<size_t>(n));
  return true;
}

void udp_send(int fd, const std::string& data, const sockaddr_in& to) {
  sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
         sizeof to);
}
