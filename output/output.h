// Standard output, where echo lines and the server's replies are printed,
// and the verdict on it: whether anything printed was lost.
#ifndef RCON_OUTPUT_H
#define RCON_OUTPUT_H

enum { OUTPUT_BLOCK = 4096 };  // holds any one print: a line or a reply's text

/// Sends the prints to descriptor \a fd from now on (the program's is 1),
/// with nothing held and nothing lost so far. Where a reader waits for each
/// line (a terminal, or the systemd journal), each print goes out whole in
/// one write as soon as it is made; into a file or another pipe, prints are
/// gathered in blocks of OUTPUT_BLOCK bytes, written out when a block is
/// full, when the program is about to sleep (output_flush()) and at the end.
void output_to(int fd);

/// Prints \a text, up to its zero byte, as it stands: never as a format.
void print_text(const char* text);

/// Prints \a text and a line feed as one print.
void print_line(const char* text);

/// For the stop handler: from now on, output has about a second to go out.
/// After that, what cannot be written at once is lost: a reader that has
/// stopped reading (a paused pager, Ctrl+S, a hung logger) must not hold
/// the stop. The stops that follow do not put that second off.
void start_output_deadline();

/// Says on standard error, in one line, that the script at \a path cannot
/// be read, and \a why.
void say_cannot_read(const char* path, const char* why);

/// Says on standard error, in one line, that a command could not go out,
/// and \a why.
void say_not_sent(const char* why);

/// Says on standard error, in one line, that the system dropped \a count
/// datagrams for a full receive buffer.
void say_dropped(unsigned count);

/// Says on standard error, in one line, that the server at \a endpoint
/// refused a command, nothing listening on its port, and \a why.
void say_refused(const char* endpoint, const char* why);

/// Says on standard error, in one line, that the server at \a endpoint
/// could not be reached, and \a why.
void say_unreachable(const char* endpoint, const char* why);

/// Says on standard error, in one line, that \a count of the server's
/// datagrams were too long to print: longer than \a most_bytes, which hold
/// \a most_chars of text. One was \a bytes long; one of \a most_bytes + 1
/// is said as longer, since the system may have told no more.
void say_too_long(unsigned count, long bytes, int most_bytes, int most_chars);

/// Writes out what is held: the program is about to sleep, and a reader of a
/// file or a pipe must not wait meanwhile for a block to fill.
void output_flush();

/// Writes out what is still held. Returns the exit status that the output
/// earns: 0 if every print went out; 1 if some were lost, after saying so in
/// one line on standard error: the system's error, or that the reader did
/// not take it within the second after a stop.
int output_exit_status();

#endif
