// Audio to device stream: sample range, mixing, resampling, level,
// framing; headerless input.  See navaudio.h.
#include "navaudio.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

#include "navsynth.h"
#include "resampler.h"

namespace navaudio {

namespace {

constexpr double kLowestAllowedCentre = 200.0;
// Reach of the tones and their keying sidebands from the centre.
constexpr double kToneReach = kShiftHz + 100.0;
// Frames over which the level is averaged (about 0.15 s).
constexpr double kLevelFrames = 256.0;
// Below this mean level (full scale 1) the audio counts as silence and is
// not amplified further.
constexpr double kSilence = 1e-6;
constexpr double kOtherChannelNoise = 20.0;

} // namespace

size_t sanitise(float *x, size_t n)
{
	size_t changed = 0;
	for (size_t k = 0; k < n; k++) {
		if (std::fabs(x[k]) <= 1.0f)
			continue; // false for a NaN
		changed++;
		x[k] = std::isnan(x[k]) ? 0.0f : std::copysign(1.0f, x[k]);
	}
	return changed;
}

double highest_centre(double in_rate)
{
	// The tones and their sidebands stay inside the flat part of the
	// first resampler's pass band (or of the audio band itself).
	return 0.45 * work_rate(in_rate) - kToneReach;
}

std::string check(const Settings &s)
{
	char buf[200];
	if (!(s.in_rate >= kMinInputRate && s.in_rate <= kMaxInputRate)) {
		snprintf(buf, sizeof buf, "audio rate %g Hz is out of range (%g to %g Hz)", s.in_rate, kMinInputRate,
			 kMaxInputRate);
		return buf;
	}
	if (!(s.frame_rate >= kMinFrameRate && s.frame_rate <= kMaxFrameRate)) {
		snprintf(buf, sizeof buf, "frame rate %g is out of range (%g to %g frames per second)", s.frame_rate,
			 kMinFrameRate, kMaxFrameRate);
		return buf;
	}
	if (s.channel < 0 || s.channel >= kChannels)
		return "the channel must be 0, 1 or 2";
	const double hi = highest_centre(s.in_rate);
	if (!(s.centre_hz >= kLowestAllowedCentre && s.centre_hz <= hi)) {
		snprintf(buf, sizeof buf, "tone centre %g Hz is out of range: audio at %g Hz carries %g to %.0f Hz",
			 s.centre_hz, s.in_rate, kLowestAllowedCentre, hi);
		return buf;
	}
	return "";
}

// ---------------------------------------------------------------- converter

struct Converter::Impl {
	Settings s;
	std::string error;
	double rate0 = 0;
	Resampler to_work, to_narrow, to_frames;
	bool use_work = false;
	std::complex<double> phasor{1.0, 0.0}, step;
	unsigned since_norm = 0;
	double level = 0;
	uint64_t level_n = 0;
	uint64_t frames = 0;
	navsynth::Gauss noise;
	std::vector<float> work, mixed, narrow, framed, clean;

	explicit Impl(const Settings &st) : s(st), noise(st.seed * 0x2545F4914F6CDD1Dull + 7) {}

	void mix(const float *x, size_t n)
	{
		mixed.resize(2 * n);
		// Twice the product keeps a tone's amplitude (the other half goes
		// to the mirror image that the filter removes).
		const double sign = s.invert ? 2.0 : -2.0;
		for (size_t k = 0; k < n; k++) {
			const double v = x[k];
			mixed[2 * k] = static_cast<float>(2.0 * v * phasor.real());
			// Lower sideband: the conjugate, so the lower tone turns upwards.
			mixed[2 * k + 1] = static_cast<float>(sign * v * phasor.imag());
			phasor *= step;
			if (++since_norm == 1024) {
				phasor /= std::abs(phasor);
				since_norm = 0;
			}
		}
	}

	void emit(const std::vector<float> &iq, std::vector<unsigned char> &out)
	{
		using namespace stream_format;
		const size_t n = iq.size() / 2;
		const size_t fb = static_cast<size_t>(frame_bytes(kChannels));
		const size_t base = out.size();
		out.resize(base + n * fb);
		for (size_t k = 0; k < n; k++) {
			const double i = iq[2 * k], q = iq[2 * k + 1];
			// The level of both components together, averaged over the
			// frames so far at the start and then over the last ones.
			level_n++;
			const double a = 0.5 * (std::fabs(i) + std::fabs(q));
			level += (a - level) * std::max(1.0 / static_cast<double>(level_n), 1.0 / kLevelFrames);
			// The input is bounded, so this cannot happen; should it,
			// the level starts afresh rather than poison what follows.
			if (!std::isfinite(level)) {
				level = 0;
				level_n = 0;
			}
			const double gain = kTargetLevel / std::max(level, kSilence);
			unsigned char *p = out.data() + base + k * fb;
			for (int ch = 0; ch < kChannels; ch++) {
				long qv, iv;
				if (ch == s.channel) {
					qv = std::lround(q * gain);
					iv = std::lround(i * gain);
				} else {
					qv = std::lround(kOtherChannelNoise * noise.next());
					iv = std::lround(kOtherChannelNoise * noise.next());
				}
				put_word(p + 4 * ch, to_sample(qv));
				put_word(p + 4 * ch + 2, to_sample(iv));
			}
			frames++;
			if (frames % kFramesPerDeviceBuffer == 0)
				p[fb - 1] |= 0x80; // buffer-end mark on the frame's last word
		}
	}

	// The complex baseband through the narrow filter and to the frame rate.
	void baseband(const float *iq, size_t n, std::vector<unsigned char> &out, bool flush)
	{
		narrow.clear();
		if (!flush)
			to_narrow.run(iq, n, narrow);
		else
			to_narrow.drain(narrow);
		framed.clear();
		to_frames.run(narrow.data(), narrow.size() / 2, framed);
		if (flush)
			to_frames.drain(framed);
		emit(framed, out);
	}
};

Converter::Converter(const Settings &s) : impl_(std::make_unique<Impl>(s))
{
	Impl &m = *impl_;
	m.rate0 = work_rate(s.in_rate);
	m.use_work = s.in_rate > m.rate0;
	m.step = std::polar(1.0, 2 * kPi * s.centre_hz / m.rate0);
	std::string err;
	if (m.use_work)
		err = m.to_work.open(s.in_rate, m.rate0, 1);
	if (err.empty())
		err = m.to_narrow.open(m.rate0, kNarrowRate, 2);
	if (err.empty())
		err = m.to_frames.open(kNarrowRate, s.frame_rate, 2);
	m.error = err;
}

Converter::~Converter() = default;

const std::string &Converter::error() const
{
	return impl_->error;
}

void Converter::push(const float *audio, size_t n, std::vector<unsigned char> &out)
{
	Impl &m = *impl_;
	if (!m.error.empty() || n == 0)
		return;
	audio = in_range(audio, n, m.clean);
	if (m.use_work) {
		m.work.clear();
		m.to_work.run(audio, n, m.work);
		m.mix(m.work.data(), m.work.size());
	} else {
		m.mix(audio, n);
	}
	m.baseband(m.mixed.data(), m.mixed.size() / 2, out, false);
}

void Converter::finish(std::vector<unsigned char> &out)
{
	Impl &m = *impl_;
	if (!m.error.empty())
		return;
	if (m.use_work) {
		m.work.clear();
		m.to_work.drain(m.work);
		m.mix(m.work.data(), m.work.size());
		m.baseband(m.mixed.data(), m.mixed.size() / 2, out, false);
	}
	m.baseband(nullptr, 0, out, true);
}

uint64_t Converter::frames() const
{
	return impl_->frames;
}

void Converter::set_centre(double centre_hz)
{
	Impl &m = *impl_;
	m.s.centre_hz = centre_hz;
	m.step = std::polar(1.0, 2 * kPi * centre_hz / m.rate0);
}

// ---------------------------------------------------------------- raw input

void RawS16::decode(const unsigned char *bytes, size_t n, std::vector<float> &out)
{
	size_t k = 0;
	if (have_odd_ && n > 0) {
		out.push_back(static_cast<float>(static_cast<int16_t>(odd_ | (bytes[0] << 8))) / 32768.0f);
		have_odd_ = false;
		k = 1;
	}
	for (; k + 1 < n; k += 2)
		out.push_back(static_cast<float>(static_cast<int16_t>(bytes[k] | (bytes[k + 1] << 8))) / 32768.0f);
	if (k < n) {
		odd_ = bytes[k];
		have_odd_ = true;
	}
}

} // namespace navaudio
