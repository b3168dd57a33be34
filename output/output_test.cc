#include "output/output.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// Returns how many bytes wait in the pipe whose reading end is \a fd.
static int unread(int fd) {
  int bytes = -1;
  ioctl(fd, FIONREAD, &bytes);
  return bytes;
}

// Into the systemd journal, named by JOURNAL_STREAM, each print goes out at
// once, as on a terminal; into any other pipe, prints wait for a block.
TEST(Output, TheJournalSeesEachPrintAtOnce) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  struct stat st;
  ASSERT_EQ(fstat(ends[1], &st), 0);
  std::string journal = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  setenv("JOURNAL_STREAM", (journal + "1").c_str(), 1);
  output_to(ends[1]);
  print_line("held");
  EXPECT_EQ(unread(ends[0]), 0);
  EXPECT_EQ(output_exit_status(), 0);
  EXPECT_EQ(unread(ends[0]), 5);
  setenv("JOURNAL_STREAM", journal.c_str(), 1);
  output_to(ends[1]);
  print_text("shown");
  EXPECT_EQ(unread(ends[0]), 10);
}
