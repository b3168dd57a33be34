#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "runner/script_reader.h"

// A read that fails in the middle of a line ends the script without that
// line: cut short, "rcon kick player12" would kick player1. The script is a
// terminal's master side, which hands over what the other side wrote (with
// CR LF for LF), then fails with EIO once that side is closed.
TEST(ScriptReader, DropsALineCutByAReadError) {
  script_reader reader;
  ASSERT_TRUE(script_open(&reader, "/dev/ptmx", nullptr));
  ASSERT_EQ(unlockpt(reader.fd), 0);
  int other = open(ptsname(reader.fd), O_WRONLY | O_NOCTTY);
  std::string script = "rcon a\nrcon kick player1";
  EXPECT_EQ(write(other, script.data(), script.size()), ssize_t(script.size()));
  close(other);
  char line[1025];
  EXPECT_EQ(script_read_line(&reader, line), 7u);
  EXPECT_STREQ(line, "rcon a\n");
  EXPECT_EQ(script_read_line(&reader, line), 0u);
  EXPECT_EQ(reader.error, EIO);
  script_close(&reader);
}
