// Reads a script file one line at a time, the way a Windows text-mode
// stream reads it, whatever the platform.
#ifndef RCON_SCRIPT_READER_H
#define RCON_SCRIPT_READER_H

#include <stddef.h>

enum {
  SCRIPT_LINE_MAX = 1024,  // characters in one line, its line feed included
  SCRIPT_CHUNK = 4096,
};

struct script_reader {
  int fd;
  unsigned char chunk[SCRIPT_CHUNK];
  size_t at, len;  // the unread bytes of chunk are [at, len)
  int ended;       // end of file, a read error or a 0x1A byte seen
};

/// Opens the script at \a path. Returns 1 on success, 0 if it cannot be
/// opened.
int script_open(script_reader* r, const char* path);

/// Starts reading \a fd, opened as script_open() opens it, from where it
/// stands; script_close() closes it.
void script_attach(script_reader* r, int fd);

/// Reads the next line into \a line: the text up to and including its line
/// feed, cut at SCRIPT_LINE_MAX characters, with a zero byte after it. CR LF
/// reads as LF and a 0x1A byte ends the script. Returns as soon as the line
/// is complete, even if more is still to come. Returns the number of
/// characters read, zero bytes included; 0 at the end of the script, after a
/// read error, or when a stop is requested while it waits for more.
size_t script_read_line(script_reader* r, char (&line)[SCRIPT_LINE_MAX + 1]);

/// Closes the script.
void script_close(script_reader* r);

#endif
