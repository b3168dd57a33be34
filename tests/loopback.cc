#include "tests/loopback.h"

udp_peer udp_peer_open(const char* ip, int port) {
  udp_peer peer = {socket(AF_INET, SOCK_DGRAM, 0), {}};
  peer.addr.sin_family = AF_INET;
  peer.addr.sin_addr.s_addr = inet_addr(ip);
  peer.addr.sin_port = htons(static_cast<uint16_t>(port));
  sockaddr* addr = reinterpret_cast<sockaddr*>(&peer.addr);
  rcon_socklen len = sizeof peer.addr;
  int failed = bind(peer.sock, addr, len);
  if (failed == 0) failed = getsockname(peer.sock, addr, &len);
  if (failed != 0) {
    socket_shutdown_close(peer.sock);
    peer.sock = RCON_NO_SOCKET;
  }
  return peer;
}

std::string endpoint_of(const udp_peer& peer) {
  return std::string(inet_ntoa(peer.addr.sin_addr)) + ":" +
         std::to_string(ntohs(peer.addr.sin_port));
}

bool udp_receive(const udp_peer& peer, std::string* data, int ms, sockaddr_in* from) {
  static volatile sig_atomic_t no_stop = 0;
  if (wait_for(-1, peer.sock, ms, &no_stop) != WAIT_REPLIES) return false;
  static char buf[65536];
  sockaddr_in source;
  long n = socket_receive(peer.sock, buf, sizeof buf, &source);
  if (n < 0) return false;
  data->assign(buf, static_cast<size_t>(n));
  if (from != nullptr) *from = source;
  return true;
}

void udp_send(const udp_peer& peer, const std::string& data, const sockaddr_in& to) {
  sendto(peer.sock, data.data(), static_cast<int>(data.size()), 0,
         reinterpret_cast<const sockaddr*>(&to), sizeof to);
}
