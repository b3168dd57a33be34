#include "output/output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// Returns how many bytes wait to be read from \a fd within \a ms: a terminal
// hands over what was written to it a moment later.
static int unread_within(int fd, int ms) {
  pollfd p = {fd, POLLIN, 0};
  (void)poll(&p, 1, ms);
  int bytes = 0;
  ioctl(fd, FIONREAD, &bytes);
  return bytes;
}

// A message is one line, whatever the script's path: a path too long for it
// is cut short, not the reason.
TEST(Output, SaysWhyAScriptCannotBeReadInOneLine) {
  testing::internal::CaptureStderr();
  say_cannot_read(std::string(5000, 'a').c_str(), "No such file or directory");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "rcon-script: cannot read " + std::string(3000, 'a') +
                ": No such file or directory\n");
}

// A terminal and the systemd journal, which JOURNAL_STREAM names, get each
// print at once, in one write; any other pipe, or a file, gets blocks,
// written out at the end.
TEST(Output, ATerminalAndTheJournalGetEachPrintAtOnce) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  output_to(pipe_ends[1]);
  print_line("a");
  EXPECT_EQ(unread_within(pipe_ends[0], 0), 0);
  EXPECT_EQ(output_exit_status(), 0);
  EXPECT_EQ(unread_within(pipe_ends[0], 0), 2);
  struct stat st;
  fstat(pipe_ends[1], &st);
  std::string journal = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  setenv("JOURNAL_STREAM", journal.c_str(), 1);
  output_to(pipe_ends[1]);
  print_text("b");
  EXPECT_EQ(unread_within(pipe_ends[0], 0), 3);
  int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_EQ(unlockpt(terminal), 0);
  int other_side = open(ptsname(terminal), O_WRONLY | O_NOCTTY);
  output_to(other_side);
  print_text("c");
  EXPECT_EQ(unread_within(terminal, 1000), 1);
  unsetenv("JOURNAL_STREAM");
  output_to(1);
  for (int fd : {pipe_ends[0], pipe_ends[1], terminal, other_side}) close(fd);
}
