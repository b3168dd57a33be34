// Feeds arbitrary bytes to the script reader as a script file and checks
// every line against a plain model: translate the whole input as text mode
// does, then cut it into lines.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runner/script_reader.h"

// The lines of \a data read as text mode delivers it (CR LF as LF, up to a
// 0x1A byte), each up to and including a line feed, or of 1024 bytes.
static std::vector<std::string> model_lines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size && data[i] != 0x1A; i++) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    lines.back() += static_cast<char>(data[i]);
    if (data[i] == '\n' || lines.back().size() == SCRIPT_LINE_MAX) lines.emplace_back();
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int fd = memfd_create("script", 0);
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
      lseek(fd, 0, SEEK_SET) != 0)
    abort();
  script_reader reader;
  script_attach(&reader, fd);
  std::vector<std::string> want = model_lines(data, size);
  char line[SCRIPT_LINE_MAX + 1];
  size_t n, i = 0;
  while ((n = script_read_line(&reader, line)) > 0) {
    if (i >= want.size() || std::string(line, n) != want[i++] || line[n] != '\0')
      abort();
  }
  if (i != want.size()) abort();
  return 0;
}
