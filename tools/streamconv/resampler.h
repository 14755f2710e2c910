// Sample-rate conversion of interleaved float channels (libsoxr), and the
// two last stages every converted NAVTEX channel shares: complex baseband
// around the tone centre at some work rate, narrowed to +-365 Hz at 800
// samples per second, then brought to the device stream's frame rate.
#ifndef STREAMCONV_RESAMPLER_H
#define STREAMCONV_RESAMPLER_H

#include <cstddef>
#include <string>
#include <vector>

struct soxr;

namespace streamconv {

// Baseband rate of the narrow channel filter: its low-pass keeps +-365 Hz
// (the tones at +-85 Hz with their keying sidebands and a centre that is
// somewhat off) and removes what lies further out, such as the mirror
// image of receiver audio or a neighbouring signal.
constexpr double kNarrowRate = 800.0;

class Resampler {
public:
	Resampler() = default;
	~Resampler();
	Resampler(const Resampler &) = delete;
	Resampler &operator=(const Resampler &) = delete;

	enum Quality { kHigh, k16Bit };
	// `ch` interleaved channels from in_rate to out_rate, with 20-bit
	// precision or 16-bit; an error text or empty.
	std::string open(double in_rate, double out_rate, int ch, Quality q = kHigh);
	// Runs `n` frames through; the output frames are appended to `out`.
	void run(const float *in, size_t n, std::vector<float> &out);
	// The end of the input: what the filter still holds.
	void drain(std::vector<float> &out);

private:
	void process(const float *in, size_t n, std::vector<float> &out);
	soxr *r_ = nullptr;
	int channels_ = 1;
	double ratio_ = 1.0;
};

// Complex baseband (interleaved I, Q) at the work rate, the tone centre at
// 0 Hz, to complex frames at the frame rate.
class NarrowToFrames {
public:
	std::string open(double work_rate, double frame_rate);
	// Appends the frames that `n` samples complete to `frames`.
	void push(const float *iq, size_t n, std::vector<float> &frames);
	void finish(std::vector<float> &frames);

private:
	Resampler to_narrow_, to_frames_;
	std::vector<float> narrow_;
};

} // namespace streamconv

#endif
