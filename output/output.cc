#include "output/output.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

static char block[OUTPUT_BLOCK];
static size_t held;  // bytes of block not yet written
static int out_fd = 1;
static int each_print_at_once;
static int first_error;  // of the write that failed; nothing is written after it
static volatile sig_atomic_t deadline_passed;

void output_to(int fd) {
  out_fd = fd;
  held = 0;
  first_error = 0;
  each_print_at_once = descriptor_shows_each_print(fd);
}

enum { LOST_AFTER_STOP = -1 };  // what a write that the stop's second ended failed with

// Writes all \a len bytes of \a data to \a fd. Returns 0, the error number of
// the write that failed, or LOST_AFTER_STOP: once the stop's second has
// passed, a write that would wait is not made, and one that waits when it
// passes is cut short (the only thing here that cuts a write short).
static int write_all(int fd, const char* data, size_t len) {
  while (len > 0) {
    if (deadline_passed && !descriptor_writable_now(fd)) return LOST_AFTER_STOP;
    long n = descriptor_write(fd, data, len);
    if (n < 0 && errno == EINTR) return LOST_AFTER_STOP;
    if (n < 0) return errno;
    if (n == 0) return EIO;  // no progress: do not spin
    data += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

// Writes out what the block holds. The run goes on after a failed write,
// since the commands still reach the server, but standard output is given
// up: what comes after a gap would read as if nothing were missing.
static void write_held() {
  if (held > 0 && first_error == 0) first_error = write_all(out_fd, block, held);
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

// Ends a print: where a reader waits for it, it goes out now, in one write.
static void end_print() {
  if (each_print_at_once) write_held();
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

void start_output_deadline() {
  static volatile sig_atomic_t started = 0;
  if (started) return;
  started = 1;
  ring_after(1, &deadline_passed);
}

// Writes "rcon-script: WHAT", ": WHY" unless \a why is nullptr, and a line
// feed to standard error, in one write.
static void say(const char* what, const char* why) {
  char line[OUTPUT_BLOCK];
  int len = why != nullptr
                ? snprintf(line, sizeof line, "rcon-script: %s: %s\n", what, why)
                : snprintf(line, sizeof line, "rcon-script: %s\n", what);
  if (len > 0) (void)write_all(2, line, strlen(line));
}

// A path is cut short where the whole line would not fit, so that the reason
// and the line feed always come.
void say_cannot_read(const char* path, const char* why) {
  char what[OUTPUT_BLOCK];
  (void)snprintf(what, sizeof what, "cannot read %.3000s", path);
  say(what, why);
}

void say_not_sent(const char* why) {
  say("command not sent", why);
}

// Nothing can bring those datagrams back, but the reader must learn that
// replies may be missing from what was printed.
void say_dropped(unsigned count) {
  char what[64];
  (void)snprintf(what, sizeof what, "%u %s dropped", count,
                 count == 1 ? "datagram" : "datagrams");
  say(what, "the receive buffer was full; some may have been the server's replies");
}

void say_refused(const char* endpoint, const char* why) {
  char message[OUTPUT_BLOCK];
  (void)snprintf(message, sizeof message,
                 "%s refused the command: %s (is the server running on that port?)",
                 endpoint, why);
  say(message, nullptr);
}

void say_unreachable(const char* endpoint, const char* why) {
  char what[64];
  (void)snprintf(what, sizeof what, "%s cannot be reached", endpoint);
  say(what, why);
}

void say_too_long(unsigned count, long bytes, int most_bytes, int most_chars) {
  char what[64];
  if (count > 1) {
    (void)snprintf(what, sizeof what, "%u replies from the server were", count);
  } else if (bytes > most_bytes + 1) {
    (void)snprintf(what, sizeof what, "a reply of %ld bytes from the server was",
                   bytes);
  } else {
    (void)snprintf(what, sizeof what,
                   "a reply of more than %d bytes from the server was", most_bytes);
  }
  char message[128];
  (void)snprintf(message, sizeof message,
                 "%s too long to print (at most %d characters)", what, most_chars);
  say(message, nullptr);
}

void output_flush() {
  write_held();
}

int output_exit_status() {
  write_held();
  if (first_error == 0) return 0;
  if (first_error == LOST_AFTER_STOP) {
    say("output not taken within a second of the stop: lost", nullptr);
  } else {
    say("write error", error_text(first_error));
  }
  return 1;
}
