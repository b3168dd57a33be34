// Feeds arbitrary bytes to the script reader as a script file and checks
// every line against a plain model: translate the whole input as text mode
// does, then cut it into lines. Both ways of reading are checked: the
// reader's own text mode (POSIX) and plain bytes that the runtime has
// already translated (Windows).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runner/script_reader.h"

// The lines of \a data as the reader must deliver them: a byte-order mark
// at the start skipped, and with \a translate read as text mode delivers it
// (CR LF as LF, up to a 0x1A byte); each line up to and including a line
// feed, or of 1024 bytes.
static std::vector<std::string> model_lines(const uint8_t* data, size_t size,
                                            bool translate) {
  std::vector<std::string> lines(1);
  size_t start = size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  for (size_t i = start; i < size; i++) {
    if (translate && data[i] == 0x1A) break;
    if (translate && data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    lines.back() += static_cast<char>(data[i]);
    if (data[i] == '\n' || lines.back().size() == SCRIPT_LINE_MAX) lines.emplace_back();
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// Reads \a fd from its start with the reader and aborts where a line differs
// from the model's.
static void check_reader(int fd, const uint8_t* data, size_t size, bool translate) {
  if (lseek(fd, 0, SEEK_SET) != 0) abort();
  script_reader reader;
  script_attach(&reader, fd, translate);
  std::vector<std::string> want = model_lines(data, size, translate);
  char line[SCRIPT_LINE_MAX + 1];
  size_t i = 0;
  for (;;) {
    size_t n = script_read_line(&reader, line);
    if (n == 0) break;
    if (i >= want.size() || std::string(line, n) != want[i] || line[n] != '\0') abort();
    i++;
  }
  if (i != want.size()) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int fd = memfd_create("script", 0);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    abort();
  check_reader(fd, data, size, true);
  check_reader(fd, data, size, false);
  return 0;
}
