// Level, noise and framing; see framer.h.
#include "framer.h"

#include <algorithm>
#include <cmath>

#include "stream_format.h"

namespace streamconv {

namespace {

// Frames over which the level is averaged (about 0.15 s).
constexpr double kLevelFrames = 256.0;
// Below this mean level (full scale 1) the signal counts as silence and is
// not amplified further.
constexpr double kSilence = 1e-6;
constexpr double kQuietSlotNoise = 20.0;

} // namespace

Framer::Framer(const std::array<bool, kSlots> &carries, uint64_t seed)
	: carries_(carries), noise_(seed * 0x2545F4914F6CDD1Dull + 7)
{
}

void Framer::put(int slot, const float *iq, size_t n)
{
	queue_[static_cast<size_t>(slot)].insert(queue_[static_cast<size_t>(slot)].end(), iq, iq + 2 * n);
}

void Framer::emit(std::vector<unsigned char> &out)
{
	size_t n = SIZE_MAX;
	for (int s = 0; s < kSlots; s++)
		if (carries_[static_cast<size_t>(s)])
			n = std::min(n, queue_[static_cast<size_t>(s)].size() / 2);
	if (n == SIZE_MAX)
		n = 0;
	write(n, out);
}

void Framer::finish(std::vector<unsigned char> &out)
{
	size_t n = 0;
	for (int s = 0; s < kSlots; s++)
		if (carries_[static_cast<size_t>(s)])
			n = std::max(n, queue_[static_cast<size_t>(s)].size() / 2);
	for (int s = 0; s < kSlots; s++)
		if (carries_[static_cast<size_t>(s)])
			queue_[static_cast<size_t>(s)].resize(2 * n, 0.0f);
	write(n, out);
}

void Framer::write(size_t n, std::vector<unsigned char> &out)
{
	using namespace stream_format;
	const size_t fb = static_cast<size_t>(frame_bytes(kSlots));
	const size_t base = out.size();
	out.resize(base + n * fb);
	for (size_t k = 0; k < n; k++) {
		// The level of both components together, averaged over the
		// frames so far at the start and then over the last ones.
		level_n_++;
		const double w = std::max(1.0 / static_cast<double>(level_n_), 1.0 / kLevelFrames);
		unsigned char *p = out.data() + base + k * fb;
		for (size_t ch = 0; ch < kSlots; ch++) {
			long qv, iv;
			if (carries_[ch]) {
				const double i = queue_[ch][2 * k], q = queue_[ch][2 * k + 1];
				const double a = 0.5 * (std::fabs(i) + std::fabs(q));
				level_[ch] += (a - level_[ch]) * w;
				const double gain = kTargetLevel / std::max(level_[ch], kSilence);
				qv = std::lround(q * gain);
				iv = std::lround(i * gain);
			} else {
				qv = std::lround(kQuietSlotNoise * noise_.next());
				iv = std::lround(kQuietSlotNoise * noise_.next());
			}
			put_word(p + 4 * ch, to_sample(qv));
			put_word(p + 4 * ch + 2, to_sample(iv));
		}
		frames_++;
		if (frames_ % kFramesPerDeviceBuffer == 0)
			p[fb - 1] |= 0x80; // buffer-end mark on the frame's last word
	}
	for (size_t ch = 0; ch < kSlots; ch++)
		if (carries_[ch])
			queue_[ch].erase(queue_[ch].begin(), queue_[ch].begin() + static_cast<long>(2 * n));
}

} // namespace streamconv
