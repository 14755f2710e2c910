// navaudio's files.  The input: a sound file read through libsndfile (any
// channel of it) or headerless signed 16-bit audio, from a file or a pipe,
// as float samples (full scale 1) with complaints about how it ends.  The
// output stream: a regular file is written under a temporary name and
// renamed when complete (removed on failure or on a signal), standard
// output, devices and pipes as they are.  Failures end the program with a
// message on standard error.
#ifndef NAVAUDIO_FILES_H
#define NAVAUDIO_FILES_H

#include <memory>
#include <string>
#include <vector>

// "navaudio: msg" on standard error, the temporary output removed, exit 1.
[[noreturn]] void fail(const std::string &msg);
// Seconds as "42 s" or "3.5 min".
std::string minutes(double s);

struct Input {
	std::string name;
	double rate = 0;
	long long samples = -1; // -1: unknown
	bool live = false;      // a pipe or terminal: read as it comes
	virtual ~Input() = default;
	// Up to n samples; 0 at the end.  Failures end the program.
	virtual long read(float *out, long n) = 0;
	// Back to the start; false when the input cannot be read twice.
	virtual bool rewind() = 0;
	// Called at the end: complaints about how the input ended.
	virtual void check_end(long long got) { (void)got; }
};


std::unique_ptr<Input> open_sound_file(const std::string &path, int channel);
std::unique_ptr<Input> open_raw_s16(const std::string &path, double rate);

// The output stream, opened once ('-': standard output).
void output_open(const std::string &path);
// True when the output is not a regular file (frames go out as made).
bool output_live();
void output_write(const std::vector<unsigned char> &bytes, bool live);
// Flushed, closed and renamed into place.
void output_commit();

#endif
