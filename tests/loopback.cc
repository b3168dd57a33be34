#include "tests/loopback.h"

#include <arpa/inet.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

udp_peer udp_peer_open(const char* ip) {
  udp_peer peer;
  memset(&peer, 0, sizeof peer);
  peer.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
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

void udp_peer_close(udp_peer* peer) {
  if (peer->fd >= 0) close(peer->fd);
  peer->fd = -1;
}

bool wait_readable(int fd, int ms) {
  pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

bool udp_receive(int fd, std::string* data, int ms, sockaddr_in* from) {
  if (!wait_readable(fd, ms)) return false;
  static char buf[65536];
  sockaddr_in src;
  socklen_t len = sizeof src;
  ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &len);
  if (n < 0) return false;
  data->assign(buf, static_cast<size_t>(n));
  if (from) *from = src;
  return true;
}

void udp_send(int fd, const std::string& data, const sockaddr_in& to) {
  sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
         sizeof to);
}

std::string endpoint_text(const sockaddr_in& addr) {
  return std::string(inet_ntoa(addr.sin_addr)) + ":" +
         std::to_string(ntohs(addr.sin_port));
}
