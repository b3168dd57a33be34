#include "output/output.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

static char block[OUTPUT_BLOCK];
static size_t held;  // bytes of block not yet written
static int on_terminal;
static int first_error;  // of the write that failed; nothing is written after it

void output_open() { on_terminal = stdout_is_terminal(); }

// Writes out what the block holds. The run goes on after a failed write,
// since the commands still reach the server, but standard output is given
// up: what comes after a gap would read as if nothing were missing.
static void write_held() {
  if (held > 0 && first_error == 0) first_error = output_write(1, block, held);
  held = 0;
}

// Adds \a len bytes of \a text to the block, writing it out each time it
// fills.
static void put(const char* text, size_t len) {
  while (len > 0) {
    size_t n = sizeof block - held;
    if (n > len) n = len;
    memcpy(block + held, text, n);
    held += n;
    text += n;
    len -= n;
    if (held == sizeof block) write_held();
  }
}

// Ends a print: on a terminal it goes out now, in one write.
static void end_print() {
  if (on_terminal) write_held();
}

void print_text(const char* text) {
  put(text, strlen(text));
  end_print();
}

void print_line(const char* text) {
  put(text, strlen(text));
  put("\n", 1);
  end_print();
}

int output_close() {
  write_held();
  if (first_error == 0) return 0;
  char message[256];
  int len = snprintf(message, sizeof message, "rcon-script: write error: %s\n",
                     strerror(first_error));
  if (len > 0) (void)output_write(2, message, strlen(message));
  return 1;
}
