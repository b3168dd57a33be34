#include "runner/script_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Returns the lines that the reader makes of a file holding \a bytes, each
// as the runner sees it: up to its first zero byte.
std::vector<std::string> lines_of(const std::string& bytes) {
  FILE* file = tmpfile();
  EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  rewind(file);
  script_reader reader;
  script_attach(&reader, file);
  char line[SCRIPT_LINE_MAX + 1];
  std::vector<std::string> lines;
  while (script_read_line(&reader, line)) lines.push_back(line);
  script_close(&reader);
  return lines;
}

std::string rep(size_t n, char c) { return std::string(n, c); }

TEST(ScriptReader, ReadsAsTextModeThenCutsAt1024) {
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty file", "", {}},
      {"last line without line feed", "a\nb", {"a\n", "b"}},
      {"CR LF reads as LF", "a\r\nb\r\n", {"a\n", "b\n"}},
      {"lone CR stays", "a\rb\r", {"a\rb\r"}},
      {"CR before CR LF stays", "a\r\r\n", {"a\r\n"}},
      {"0x1A ends the file",
       "a\nb\x1A"
       "c\nd\n",
       {"a\n", "b"}},
      {"zero byte hides the rest of its line",
       std::string("a\0b\nc\n", 6),
       {"a", "c\n"}},
      {"1030 characters: 1024, then 6",
       rep(1030, 'x') + "\n",
       {rep(1024, 'x'), rep(6, 'x') + "\n"}},
      {"1024 characters: line feed comes alone",
       rep(1024, 'x') + "\n",
       {rep(1024, 'x'), "\n"}},
      {"CR LF counts as one character",
       rep(1023, 'x') + "\r\n",
       {rep(1023, 'x') + "\n"}},
      {"CR LF split across reads",
       rep(4095, 'x') + "\r\ny",
       {rep(1024, 'x'), rep(1024, 'x'), rep(1024, 'x'), rep(1023, 'x') + "\n", "y"}},
  };
  for (const auto& c : cases) EXPECT_EQ(lines_of(c.bytes), c.lines) << c.name;
}

}  // namespace
