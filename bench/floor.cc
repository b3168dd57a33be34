// The floor that rcon-script is measured against: read a script and send
// each "rcon " line as the same command datagram with one sendto(), and
// nothing else. With "poll", also one zero-timeout readiness poll per line,
// the least that a drain after every line can cost.
//   rcon_floor ADDRESS:PORT SCRIPT [poll]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  bool poll_each = argc > 3 && strcmp(argv[3], "poll") == 0;
  char* colon = strchr(argv[1], ':');
  if (colon == nullptr) return 2;
  *colon = '\0';
  sockaddr_in server;
  memset(&server, 0, sizeof server);
  server.sin_family = AF_INET;
  server.sin_addr.s_addr = inet_addr(argv[1]);
  server.sin_port = htons(static_cast<uint16_t>(strtol(colon + 1, nullptr, 10)));
  int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  FILE* f = fopen(argv[2], "rb");
  if (fd < 0 || f == nullptr) return 2;
  static const char header[] = "\xFF\xFF\xFF\xFFrcon \"secret\" ";
  const size_t header_len = sizeof header - 1;
  char line[1025], datagram[1024];
  memcpy(datagram, header, header_len);
  while (fgets(line, sizeof line, f)) {
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
    if (strncmp(line, "rcon ", 5) == 0 && header_len + len - 5 + 1 <= sizeof datagram) {
      memcpy(datagram + header_len, line + 5, len - 5 + 1);
      sendto(fd, datagram, header_len + len - 5 + 1, 0,
             reinterpret_cast<const sockaddr*>(&server), sizeof server);
    }
    if (poll_each) {
      pollfd p = {fd, POLLIN, 0};
      poll(&p, 1, 0);
    }
  }
  return 0;
}
