#include "output/output.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

static int on_terminal;
static int first_error;

// Keeps the error number of the first write that failed; the run goes on,
// since the commands still reach the server. The stream's error flag counts
// too: a flush inside a call need not show in what the call returns.
static void record_write_error(int failed) {
  if ((failed || ferror(stdout)) && first_error == 0)
    first_error = errno != 0 ? errno : EIO;
}

// Ends a print: on a terminal it goes out now, in one write.
static void end_print() {
  if (on_terminal) record_write_error(fflush(stdout) != 0);
}

// The block must outlive every print, hence static.
void output_open() {
  static char block[OUTPUT_BLOCK];
  on_terminal = stdout_is_terminal();
  (void)setvbuf(stdout, block, _IOFBF, sizeof block);
}

// Returns 1 if all of \a text went into the stream. fwrite() rather than
// fputs() or putc(): one Windows runtime flushes those at every line feed.
static int put(const char* text) {
  size_t len = strlen(text);
  return fwrite(text, 1, len, stdout) == len;
}

void print_text(const char* text) {
  record_write_error(!put(text));
  end_print();
}

void print_line(const char* text) {
  record_write_error(!put(text) || !put("\n"));
  end_print();
}

int output_close() {
  record_write_error(fflush(stdout) != 0);
  return first_error;
}
