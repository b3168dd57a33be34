// Hands arbitrary datagrams to the reply handling, as if received from the
// server or from an impostor, and checks what it prints and returns against
// the protocol's rules written out plainly.
#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "link/datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the source: the server, another port, another address.
  if (size == 0) return 0;
  int source = data[0] % 3;
  data++;
  size--;
  if (size > RCON_RECEIVE_MAX) size = RCON_RECEIVE_MAX;

  sockaddr_in server, from;
  memset(&server, 0, sizeof server);
  server.sin_family = AF_INET;
  server.sin_port = htons(27960);
  server.sin_addr.s_addr = htonl(0x7F000001);
  from = server;
  if (source == 1) from.sin_port = htons(27961);
  if (source == 2) from.sin_addr.s_addr = htonl(0x7F000002);

  char buf[RCON_RECEIVE_MAX + 1];
  memcpy(buf, data, size);
  buf[RCON_RECEIVE_MAX] = '\0';
  char printed[RCON_RECEIVE_MAX + 1] = {0};
  FILE* out = fmemopen(printed, sizeof printed, "w");
  int got = take_datagram(buf, static_cast<long>(size), &from, &server, out);
  if (fclose(out) != 0) abort();

  std::string bytes(reinterpret_cast<const char*>(data), size);
  bool reply = bytes.compare(0, 10, std::string("\xFF\xFF\xFF\xFFprint\n", 10)) == 0;
  int want = reply ? static_cast<int>(size) - 10 : static_cast<int>(size);
  std::string text = reply && source == 0 ? bytes.substr(10) : "";
  size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  if (got != want || text != printed) abort();
  return 0;
}
