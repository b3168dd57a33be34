// A plain model of the script reader, and the check of the reader against
// it: translate the whole input as text mode does, then cut it into lines.
// The fuzz target and the seed replay share it.
#ifndef RCON_FUZZ_SCRIPT_READER_MODEL_H
#define RCON_FUZZ_SCRIPT_READER_MODEL_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runner/script_reader.h"

// The lines of \a data as the reader must deliver them: a byte-order mark
// at the start skipped, read as text mode delivers it (CR LF as LF, up to a
// 0x1A byte); each line up to and including a line feed, or of 1024 bytes.
inline std::vector<std::string> model_lines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  size_t start = size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  for (size_t i = start; i < size; i++) {
    if (data[i] == 0x1A) break;
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    lines.back() += static_cast<char>(data[i]);
    if (data[i] == '\n' || lines.back().size() == 1024) lines.emplace_back();
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// Returns whether the reader reads the file at \a path, which holds \a data,
// as the model says: every line's bytes and its zero terminator.
inline bool reader_matches_model(const char* path, const uint8_t* data, size_t size) {
  script_reader reader;
  if (!script_open(&reader, path)) return false;
  std::vector<std::string> want = model_lines(data, size);
  char line[SCRIPT_LINE_MAX + 1];
  size_t i = 0;
  bool same = true;
  for (;;) {
    size_t n = script_read_line(&reader, line);
    if (n == 0) break;
    same = same && i < want.size() && std::string(line, n) == want[i] && line[n] == '\0';
    i++;
  }
  script_close(&reader);
  return same && i == want.size();
}

#endif
