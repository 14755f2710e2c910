// Terminal input of the interactive editor: whole answer lines (at most 79
// characters are taken) and single keys read without waiting for Enter.
#pragma once

#include <cstdio>
#include <string>

constexpr std::size_t INPUT_LINE_MAX = 79;

enum line_result { LINE_EOF = -1, LINE_OK = 0, LINE_TOO_LONG = 1 };

// Reads one line from `in` into `line` without its line end. An over-long
// line keeps its first INPUT_LINE_MAX characters, the rest is consumed and
// LINE_TOO_LONG is returned so that it is never taken as a further line.
// LINE_EOF when the input has ended before any character.
line_result read_line(FILE *in, std::string &line);

// Returns the next character of standard input (EOF at its end), with the
// terminal's canonical mode switched off for that one read.
int read_key();
