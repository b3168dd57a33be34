// Feeds arbitrary bytes to the script reader as a script file and checks
// every line against a plain model: translate the whole input as text mode
// does, then cut it into lines. Also checks keyword matching on each line.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runner/script_commands.h"
#include "runner/script_reader.h"

// The whole input as text mode delivers it: CR LF as LF, up to a 0x1A byte.
static std::string translated(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size && data[i] != 0x1A; i++) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    text += static_cast<char>(data[i]);
  }
  return text;
}

// The lines of \a text: each up to and including a line feed, or 1024 bytes.
static std::vector<std::string> cut(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    line += c;
    if (c == '\n' || line.size() == SCRIPT_LINE_MAX) {
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

static script_keyword model_keyword(const char* line) {
  static const char* const words[] = {"rcon ", "echo ", "wait "};
  static const script_keyword kinds[] = {KEYWORD_RCON, KEYWORD_ECHO, KEYWORD_WAIT};
  for (int k = 0; k < 3; k++) {
    size_t i = 0;
    while (i < 5 && line[i] == words[k][i]) i++;
    if (i == 5) return kinds[k];
  }
  return KEYWORD_NONE;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen() wants a buffer
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) abort();
  script_reader reader;
  script_attach(&reader, file);
  std::vector<std::string> want = cut(translated(data, size));
  char line[SCRIPT_LINE_MAX + 1];
  size_t n, i = 0;
  while ((n = script_read_line(&reader, line)) > 0) {
    if (i >= want.size() || std::string(line, n) != want[i]) abort();
    if (line[n] != '\0' || keyword_of(line) != model_keyword(line)) abort();
    i++;
  }
  if (i != want.size()) abort();
  script_close(&reader);
  return 0;
}
