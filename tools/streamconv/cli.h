// What navaudio's and navsdr's mains share around their options and input.
//
// Takes the program's name and its output (set once, first thing in main);
// gives the way out on an error - the unfinished output discarded,
// "<program>: <message>" on standard error, exit status 1 - option numbers,
// the one input argument, and a headerless input (a file, or standard
// input for "-") read as raw bytes.  Every failure here ends the program.
#ifndef STREAMCONV_CLI_H
#define STREAMCONV_CLI_H

#include <cstddef>
#include <string>

#include "output.h"

namespace streamconv {

// The name in messages and the output that fail() discards.
void set_program(const char *name, Output *out);

[[noreturn]] void fail(const std::string &msg);

// The number in `arg`, or the end with "bad number for -<opt>: '<arg>'".
double option_number(char opt, const char *arg);

// The one input left after getopt; with none or more, the usage (on
// standard error) and the end.
std::string the_input(int argc, char **argv, const char *usage);

// Headerless input: a file, or standard input for "-".
struct RawFile {
	std::string name;     // "standard input" for "-"
	int fd = -1;
	long long size = -1;  // bytes of a regular file; -1 otherwise
	bool live = false;    // a pipe or terminal: read as it comes

	explicit RawFile(const std::string &path);
	~RawFile();
	RawFile(const RawFile &) = delete;
	RawFile &operator=(const RawFile &) = delete;
	// Up to n bytes; 0 at the end.
	size_t read(unsigned char *buf, size_t n);
	// Back to the start; false for a live input or a failed seek.
	bool rewind();

private:
	bool own_ = false;
};

} // namespace streamconv

#endif
