// navaudio's input: a sound file (any libsndfile reads, one channel of
// it) or headerless signed 16-bit little-endian audio, from a file or
// standard input ("-"), as float samples of full scale 1 at the input's
// rate.  Failures end the program (streamconv::fail); warnings about how
// the input ended go to standard error.
#ifndef NAVAUDIO_AUDIO_INPUT_H
#define NAVAUDIO_AUDIO_INPUT_H

#include <memory>
#include <string>

namespace navaudio {

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

// `channel` counts from 1.
std::unique_ptr<Input> open_sound_file(const std::string &path, int channel);
// Headerless s16 at `rate` samples per second.
std::unique_ptr<Input> open_raw_s16(const std::string &path, double rate);

} // namespace navaudio

#endif
