// Pieces the converter and the centre finder share: the libsoxr resampler
// on interleaved float frames, the rates the chain works at, and the guard
// that keeps samples within full scale before any filter.
#ifndef NAVAUDIO_RESAMPLER_H
#define NAVAUDIO_RESAMPLER_H

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace navaudio {

// Audio above this rate is first brought down to it: the tones never lie
// above 3.6 kHz, and the later stages then work on few samples.
constexpr double kAudioWorkRate = 8000.0;
// Baseband rate of the narrow channel filter: the resampler's low-pass
// keeps +-365 Hz (the tones at +-85 Hz with their keying sidebands and a
// centre that is somewhat off) and removes the mirror image of the tones,
// which the mixing puts 2 x centre away, even for a centre of 200 Hz.
constexpr double kNarrowRate = 800.0;
constexpr double kPi = 3.14159265358979323846;

inline double work_rate(double in_rate)
{
	return std::min(in_rate, kAudioWorkRate);
}

struct Resampler {
	soxr_t r = nullptr;
	int channels = 1;
	double ratio = 1.0;

	std::string open(double in_rate, double out_rate, int ch)
	{
		channels = ch;
		ratio = out_rate / in_rate;
		soxr_error_t err = nullptr;
		soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
		soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
		r = soxr_create(in_rate, out_rate, static_cast<unsigned>(ch), &err, &io, &q, nullptr);
		if (!r)
			return std::string("cannot set up the resampler: ") + (err ? err : "unknown error");
		return "";
	}
	~Resampler()
	{
		if (r)
			soxr_delete(r);
	}

	// Runs `n` frames through; the output frames are appended to `out`.
	void run(const float *in, size_t n, std::vector<float> &out)
	{
		// An empty block must not reach soxr: a null input (as an empty
		// vector's may be) tells it that the input has ended.
		if (n > 0)
			process(in, n, out);
	}
	// The end of the input: what the filter still holds.
	void drain(std::vector<float> &out)
	{
		process(nullptr, 0, out);
	}

private:
	void process(const float *in, size_t n, std::vector<float> &out)
	{
		const bool flush = in == nullptr;
		size_t used = 0;
		for (;;) {
			const size_t room = static_cast<size_t>(static_cast<double>(n - used) * ratio) + 256;
			const size_t old = out.size();
			out.resize(old + room * channels);
			size_t idone = 0, odone = 0;
			soxr_process(r, flush ? nullptr : in + used * channels, flush ? 0 : n - used, &idone,
				     out.data() + old, room, &odone);
			out.resize(old + odone * channels);
			used += idone;
			if (flush ? odone < room : (used >= n || (idone == 0 && odone == 0)))
				break;
		}
	}
};

size_t sanitise(float *x, size_t n); // navaudio.h

// The audio as the filters may take it: a copy with the samples that
// sanitise() would change changed, or the audio itself when none is.
inline const float *in_range(const float *x, size_t n, std::vector<float> &scratch)
{
	size_t k = 0;
	while (k < n && std::fabs(x[k]) <= 1.0f)
		k++;
	if (k == n)
		return x;
	scratch.assign(x, x + n);
	sanitise(scratch.data() + k, n - k);
	return scratch.data();
}

} // namespace navaudio

#endif
