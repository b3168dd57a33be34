#include "runner/script_reader.h"

#include <string.h>

#include "platform/platform.h"
#include "runner/stop_signal.h"

void script_attach(script_reader* r, int fd, int translate) {
  r->fd = fd;
  r->at = 0;
  r->len = 0;
  r->ended = 0;
  r->translate = translate;
  r->at_start = 1;
}

int script_open(script_reader* r, const char* path) {
  int fd = script_file_open(path);
  if (fd < 0) return 0;
  script_attach(r, fd, !SCRIPT_RUNTIME_TRANSLATES);
  return 1;
}

void script_close(script_reader* r) { script_file_close(r->fd); }

// Reads more of the script into the chunk, after what it holds. Returns 0
// at the end of the script: the end of the file, a read error or a stop
// while it waits.
static int read_more(script_reader* r) {
  long n = script_file_read(r->fd, r->chunk + r->len, sizeof r->chunk - r->len,
                            &stop_requested);
  if (n <= 0) r->ended = 1;
  r->len += static_cast<size_t>(n > 0 ? n : 0);
  return n > 0;
}

// Skips the UTF-8 byte-order mark that Notepad and other Windows editors
// put at the start of a file: it would hide the first line's keyword. From
// a pipe the mark may come in pieces, so up to three bytes are gathered.
static void skip_byte_order_mark(script_reader* r) {
  static const unsigned char mark[] = {0xEF, 0xBB, 0xBF};
  r->at_start = 0;
  while (r->len < sizeof mark && memcmp(r->chunk, mark, r->len) == 0) {
    if (!read_more(r)) return;
  }
  if (r->len >= sizeof mark && memcmp(r->chunk, mark, sizeof mark) == 0)
    r->at = sizeof mark;
}

// Returns 1 if an unread byte is in the chunk, refilling it if need be.
static int have_byte(script_reader* r) {
  if (r->at < r->len) return 1;
  if (r->ended) return 0;
  r->at = 0;
  r->len = 0;
  return read_more(r);
}

// Returns the unread byte in the chunk (there is one) as text mode delivers
// it, or -1 at the end.
static int text_byte(script_reader* r) {
  int c = r->chunk[r->at++];
  if (!r->translate) return c;
  if (c == 0x1A) {
    r->ended = 1;
    r->at = r->len;
    return -1;
  }
  // Looking ahead refills the chunk, so a CR LF pair split across two
  // reads still becomes one line feed.
  if (c == '\r' && have_byte(r) && r->chunk[r->at] == '\n') {
    r->at++;
    return '\n';
  }
  return c;
}

// Returns 1 for the bytes that may end a line or the script, or stand for
// another byte: plain copying stops at them.
static int is_text_mode_byte(unsigned char c) {
  return c == '\n' || c == '\r' || c == 0x1A;
}

size_t script_read_line(script_reader* r, char (&line)[SCRIPT_LINE_MAX + 1]) {
  if (r->at_start) skip_byte_order_mark(r);
  size_t n = 0;
  while (n < SCRIPT_LINE_MAX && have_byte(r)) {
    // Plain bytes go over in one run; line feeds, CRs and 0x1A one by one.
    const unsigned char* run = r->chunk + r->at;
    size_t room = r->len - r->at;
    if (room > SCRIPT_LINE_MAX - n) room = SCRIPT_LINE_MAX - n;
    size_t k = 0;
    while (k < room && !is_text_mode_byte(run[k])) k++;
    memcpy(line + n, run, k);
    n += k;
    r->at += k;
    if (k == room) continue;
    int c = text_byte(r);
    if (c < 0) break;
    line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[n] = '\0';
  return n;
}
