// Reads a script file one line at a time, the way a Windows text-mode
// stream reads it, whatever the platform.
#ifndef RCON_SCRIPT_READER_H
#define RCON_SCRIPT_READER_H

#include <stddef.h>

#include "link/rcon_link.h"

enum {
  SCRIPT_LINE_MAX = 1024,  // characters in one line, its line feed included
  SCRIPT_CHUNK = 4096,
  SCRIPT_UTF16 = -1,  // the error of a script that starts with a UTF-16 mark
};

struct script_reader {
  int fd;
  rcon_link* link;  // drained while the script keeps it waiting
  unsigned char chunk[SCRIPT_CHUNK];
  size_t at, len;  // the unread bytes of chunk are [at, len)
  int ended;       // end of file, a read error or a 0x1A byte seen
  int error;       // the error number of a failed open or read, SCRIPT_UTF16, or 0
  int at_start;    // nothing read yet: a byte-order mark may come
  int cut;         // the last line was cut: the rest of it is to be skipped
};

/// Opens the script at \a path. Returns 1 on success; 0, with the reason in
/// error, if it cannot be opened. While a pipe, a FIFO or a terminal keeps
/// the reader waiting for more, the server's replies on \a link (nullptr:
/// none) are printed as they come.
int script_open(script_reader* r, const char* path, rcon_link* link);

/// Reads the next line into \a line: the text up to and including its line
/// feed, with a zero byte after it. A longer line is cut at SCRIPT_LINE_MAX
/// characters, and the rest of it, up to and including its line feed, is
/// skipped: no part of it is ever a line of its own. CR LF reads as LF and a
/// 0x1A byte ends the script; a UTF-8 byte-order mark at the very start of
/// the script is skipped, and a UTF-16 one ends it at once with the error
/// SCRIPT_UTF16. Returns as soon as the line is complete, even if more is
/// still to come. Returns the number of characters read, zero bytes
/// included; 0 at the end of the script or after an error. A read error
/// (kept in error) ends the script there, and the part of a line read by
/// then is dropped. A stop requested while it waits for more ends the
/// script too: the part read by then comes back without a line feed, for
/// the caller, which tests for the stop, to drop. The last line of a file
/// may lack its line feed.
size_t script_read_line(script_reader* r, char (&line)[SCRIPT_LINE_MAX + 1]);

/// Closes the script.
void script_close(script_reader* r);

/// Returns what the error \a error of a script says: the system's text for
/// an error number, or what to do about a UTF-16 script.
const char* script_error_text(int error);

#endif
