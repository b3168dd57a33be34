#include "link/output.h"

#include <errno.h>
#include <stdio.h>

#include "platform/platform.h"

static int on_terminal;
static int first_error;

// Keeps the error number of the first write that failed; the run goes on,
// since the commands still reach the server.
static void note(int failed) {
  if (failed && first_error == 0) first_error = errno != 0 ? errno : EIO;
}

// Ends a print: on a terminal it goes out now, in one write.
static void end_print() {
  if (on_terminal) note(fflush(stdout) != 0);
}

// The block must outlive every print, hence static.
void output_open() {
  static char block[OUTPUT_BLOCK];
  on_terminal = stdout_is_terminal();
  (void)setvbuf(stdout, block, _IOFBF, sizeof block);
}

void print_text(const char* text) {
  note(fputs(text, stdout) == EOF);
  end_print();
}

void print_line(const char* text) {
  note(fputs(text, stdout) == EOF || putc('\n', stdout) == EOF);
  end_print();
}

int output_close() {
  note(fflush(stdout) != 0);
  return first_error;
}
