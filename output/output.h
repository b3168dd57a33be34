// Standard output, where echo lines and the server's replies are printed,
// and the verdict on it: whether anything printed was lost.
#ifndef RCON_OUTPUT_H
#define RCON_OUTPUT_H

enum { OUTPUT_BLOCK = 4096 };  // holds any one print: a line or a reply's text

/// Sets standard output up for the run: on a terminal each print goes out
/// whole in one write as soon as it is made; into a file or a pipe, prints
/// are gathered in blocks of OUTPUT_BLOCK bytes.
void output_open();

/// Prints \a text, up to its zero byte, as it stands: never as a format.
void print_text(const char* text);

/// Prints \a text and a line feed as one print.
void print_line(const char* text);

/// Writes out what is still held. Returns the run's exit status for its
/// output: 0 if every print went out; 1 if some were lost, after saying so
/// in one line on standard error.
int output_close();

#endif
