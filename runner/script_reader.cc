#include "runner/script_reader.h"

#include <errno.h>
#include <string.h>

#include "platform/platform.h"
#include "runner/waiting.h"

int script_open(script_reader* r, const char* path, rcon_link* link) {
  r->fd = script_file_open(path);
  r->link = link;
  r->at = 0;
  r->len = 0;
  r->ended = 0;
  r->error = r->fd < 0 ? errno : 0;
  r->at_start = 1;
  r->cut = 0;
  return r->fd >= 0;
}

void script_close(script_reader* r) {
  script_file_close(r->fd);
}

// Reads more of the script into the chunk, after what it holds; this waits
// for a pipe or a terminal, printing the server's replies meanwhile. Returns
// 0 at the end of the script: the end of the file, a read error or a stop
// while it waits.
static int read_more(script_reader* r) {
  long n = 0;
  if (wait_printing_replies(r->link, r->fd, -1) == WAIT_SCRIPT) {
    n = script_file_read(r->fd, r->chunk + r->len, sizeof r->chunk - r->len);
  }
  if (n < 0) r->error = errno;
  if (n <= 0) {
    r->ended = 1;
    return 0;
  }
  r->len += static_cast<size_t>(n);
  return 1;
}

// Returns 1 if an unread byte is in the chunk, reading the next chunk first
// (and waiting for it) when this one is used up; 0 at the end of the script.
static int fill_if_used_up(script_reader* r) {
  if (r->at < r->len) return 1;
  if (r->ended) return 0;
  r->at = 0;
  r->len = 0;
  return read_more(r);
}

// Returns 1 while the bytes that the chunk holds may still grow into one of
// the byte-order marks that Notepad and other Windows editors put at the
// start of a file: UTF-8's EF BB BF, UTF-16's FF FE or FE FF.
static int may_grow_into_mark(const script_reader* r) {
  const unsigned char* c = r->chunk;
  switch (r->len) {
    case 0:
      return 1;
    case 1:
      return c[0] == 0xEF || c[0] == 0xFF || c[0] == 0xFE;
    case 2:
      return c[0] == 0xEF && c[1] == 0xBB;
    default:
      return 0;
  }
}

// Skips a UTF-8 byte-order mark, which would hide the first line's keyword.
// A UTF-16 script ends at once, with an error: each of its lines would end
// at its first zero byte, so it could never run a command. From a pipe the
// mark may come in pieces, so up to three bytes are gathered.
static void read_byte_order_mark(script_reader* r) {
  r->at_start = 0;
  while (may_grow_into_mark(r)) {
    int more = read_more(r);
    if (!more) return;
  }
  const unsigned char* c = r->chunk;
  if (r->len >= 3 && c[0] == 0xEF && c[1] == 0xBB && c[2] == 0xBF) r->at = 3;
  if ((c[0] == 0xFF && c[1] == 0xFE) || (c[0] == 0xFE && c[1] == 0xFF)) {
    r->error = SCRIPT_UTF16;
    r->ended = 1;
    r->at = r->len;
  }
}

// Returns the unread byte in the chunk (there is one) as text mode delivers
// it, or -1 at the end.
static int text_byte(script_reader* r) {
  int c = r->chunk[r->at++];
  if (c == 0x1A) {
    r->ended = 1;
    r->at = r->len;
    return -1;
  }
  if (c != '\r') return c;
  // Looking ahead reads the next chunk, so a CR LF pair split across two
  // reads still becomes one line feed.
  int more = fill_if_used_up(r);
  if (more && r->chunk[r->at] == '\n') {
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

// Skips the rest of a line that was cut, up to and including its line feed:
// a long note that goes on with "rcon quit" past the cut must not quit.
static void skip_rest_of_line(script_reader* r) {
  r->cut = 0;
  for (;;) {
    int more = fill_if_used_up(r);
    if (!more) return;
    int c = text_byte(r);
    if (c < 0 || c == '\n') return;
  }
}

size_t script_read_line(script_reader* r, char (&line)[SCRIPT_LINE_MAX + 1]) {
  if (r->at_start) read_byte_order_mark(r);
  if (r->cut) skip_rest_of_line(r);
  size_t n = 0;
  while (n < SCRIPT_LINE_MAX) {
    int more = fill_if_used_up(r);
    if (!more) break;
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
  // Cut short by a read error, the line is no line: "rcon kick player12"
  // must not kick player1.
  if (r->error != 0) n = 0;
  line[n] = '\0';
  if (n == SCRIPT_LINE_MAX && line[n - 1] != '\n') r->cut = 1;
  return n;
}

const char* script_error_text(int error) {
  if (error == SCRIPT_UTF16) return "UTF-16 text (save it as UTF-8 or ANSI)";
  return error_text(error);
}
