// A plain model of the script reader: translate the whole input as text
// mode does, then cut it into lines. The fuzz target and the seed replay
// compare the reader's lines with it.
#ifndef RCON_FUZZ_SCRIPT_READER_MODEL_H
#define RCON_FUZZ_SCRIPT_READER_MODEL_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runner/script_reader.h"

// The lines of \a data as the reader must deliver them: none after a UTF-16
// byte-order mark; a UTF-8 one at the start skipped, read as text mode
// delivers it (CR LF as LF, up to a 0x1A byte); each line up to and
// including a line feed, or cut at 1024 bytes with the rest of it, up to
// and including its line feed, skipped.
inline std::vector<std::string> model_lines(const uint8_t* data, size_t size) {
  if (size >= 2 &&
      (memcmp(data, "\xFF\xFE", 2) == 0 || memcmp(data, "\xFE\xFF", 2) == 0))
    return {};
  std::vector<std::string> lines(1);
  bool skipping = false;
  size_t start = size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  for (size_t i = start; i < size; i++) {
    if (data[i] == 0x1A) break;
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    if (skipping) {
      skipping = data[i] != '\n';
      continue;
    }
    lines.back() += static_cast<char>(data[i]);
    if (data[i] == '\n') {
      lines.emplace_back();
    } else if (lines.back().size() == 1024) {
      lines.emplace_back();
      skipping = true;
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// Returns the lines that the reader reads from the file at \a path; a line
// whose zero byte is missing is marked so.
inline std::vector<std::string> reader_lines(const char* path) {
  std::vector<std::string> lines;
  script_reader reader;
  if (!script_open(&reader, path, nullptr)) return {"(cannot open)"};
  char line[SCRIPT_LINE_MAX + 1];
  for (;;) {
    size_t n = script_read_line(&reader, line);
    if (n == 0) break;
    lines.emplace_back(line, n);
    if (line[n] != '\0') lines.back() += "(no zero byte after the line)";
  }
  script_close(&reader);
  return lines;
}

#endif
