// The converters' output and progress.
//
// A regular output file is written under a temporary name beside it and
// renamed when complete, so that no partial stream passes for a whole one;
// a signal that ends the program removes the temporary file.  Standard
// output, devices and pipes are written as they are (and flushed block by
// block, so that a daemon reading the pipe gets the frames as they come).
// Every failure comes back as a text for the program to report.
#ifndef STREAMCONV_OUTPUT_H
#define STREAMCONV_OUTPUT_H

#include <cstdio>
#include <string>
#include <vector>

namespace streamconv {

class Output {
public:
	// Also installs the signal handlers that remove the temporary file.
	std::string open(const std::string &path);
	std::string write(const std::vector<unsigned char> &bytes);
	// Flushes, closes and renames the file into place.
	std::string commit();
	// Removes the temporary file, if any.
	void discard();
	// True when writing straight to a pipe, device or standard output.
	bool live() const { return f_ && temp_.empty(); }

private:
	std::string failed(const char *what) const;
	FILE *f_ = nullptr;
	std::string path_, temp_;
};

// "42 s", or "3.5 min" from two minutes on.
std::string minutes(double seconds);

// Progress on long input: tenths of a known length, or every ten minutes of
// a stream of unknown length, as "<program>: 40% (2.0 min of 5.0 min)".
class Progress {
public:
	// total_s < 0: unknown length.
	Progress(const char *program, double total_s);
	void update(double done_s);

private:
	const char *program_;
	double total_s_, next_;
};

} // namespace streamconv

#endif
