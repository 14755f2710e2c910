// libsoxr behind a small interface; see resampler.h.
#include "resampler.h"

#include <soxr.h>

namespace streamconv {

Resampler::~Resampler()
{
	if (r_)
		soxr_delete(r_);
}

std::string Resampler::open(double in_rate, double out_rate, int ch, Quality quality)
{
	channels_ = ch;
	ratio_ = out_rate / in_rate;
	soxr_error_t err = nullptr;
	soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
	soxr_quality_spec_t q = soxr_quality_spec(quality == k16Bit ? SOXR_16_BITQ : SOXR_HQ, 0);
	r_ = soxr_create(in_rate, out_rate, static_cast<unsigned>(ch), &err, &io, &q, nullptr);
	if (!r_)
		return std::string("cannot set up the resampler: ") + (err ? err : "unknown error");
	return "";
}

void Resampler::run(const float *in, size_t n, std::vector<float> &out)
{
	// An empty block must not reach soxr: a null input (as an empty
	// vector's may be) tells it that the input has ended.
	if (n > 0)
		process(in, n, out);
}

void Resampler::drain(std::vector<float> &out)
{
	process(nullptr, 0, out);
}

void Resampler::process(const float *in, size_t n, std::vector<float> &out)
{
	const bool flush = in == nullptr;
	const size_t ch = static_cast<size_t>(channels_);
	size_t used = 0;
	for (;;) {
		const size_t room = static_cast<size_t>(static_cast<double>(n - used) * ratio_) + 256;
		const size_t old = out.size();
		out.resize(old + room * ch);
		size_t idone = 0, odone = 0;
		soxr_process(r_, flush ? nullptr : in + used * ch, flush ? 0 : n - used, &idone, out.data() + old, room,
			     &odone);
		out.resize(old + odone * ch);
		used += idone;
		if (flush ? odone < room : (used >= n || (idone == 0 && odone == 0)))
			break;
	}
}

std::string NarrowToFrames::open(double work_rate, double frame_rate)
{
	std::string err = to_narrow_.open(work_rate, kNarrowRate, 2);
	if (err.empty())
		err = to_frames_.open(kNarrowRate, frame_rate, 2);
	return err;
}

void NarrowToFrames::push(const float *iq, size_t n, std::vector<float> &frames)
{
	narrow_.clear();
	to_narrow_.run(iq, n, narrow_);
	to_frames_.run(narrow_.data(), narrow_.size() / 2, frames);
}

void NarrowToFrames::finish(std::vector<float> &frames)
{
	narrow_.clear();
	to_narrow_.drain(narrow_);
	to_frames_.run(narrow_.data(), narrow_.size() / 2, frames);
	to_frames_.drain(frames);
}

} // namespace streamconv
