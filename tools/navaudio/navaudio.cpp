// Audio to device stream: mixing, resampling, level, framing; the tone
// centre finder.  See navaudio.h.
#include "navaudio.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>

#include "framer.h"
#include "resampler.h"
#include "tone_centre.h"

namespace navaudio {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Audio above this rate is first brought down to it: the tones never lie
// above 3.6 kHz, and the later stages then work on few samples.
constexpr double kAudioWorkRate = 8000.0;
// The narrow channel filter (streamconv::kNarrowRate) also removes the
// mirror image of the tones, which the mixing puts 2 x centre away, even
// for a centre of 200 Hz.
constexpr double kLowestAllowedCentre = 200.0;
// Reach of the tones and their keying sidebands from the centre.
constexpr double kToneReach = kShiftHz + 100.0;
// Audio kept for refining the centre: ten minutes at 8 kHz.
constexpr double kKeepSeconds = 600.0;

double work_rate(double in_rate)
{
	return std::min(in_rate, kAudioWorkRate);
}

// A float file may hold anything: a NaN or an infinity would poison the
// filters and the level for good.  Returns the audio, or a copy with such
// samples silenced.
const float *finite(const float *x, size_t n, std::vector<float> &scratch)
{
	size_t k = 0;
	while (k < n && std::isfinite(x[k]))
		k++;
	if (k == n)
		return x;
	scratch.assign(x, x + n);
	for (; k < n; k++)
		if (!std::isfinite(scratch[k]))
			scratch[k] = 0.0f;
	return scratch.data();
}

std::array<bool, streamconv::kSlots> one_slot(int channel)
{
	std::array<bool, streamconv::kSlots> c{};
	c[static_cast<size_t>(channel)] = true;
	return c;
}

} // namespace

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
	streamconv::Resampler to_work;
	streamconv::NarrowToFrames to_frames;
	streamconv::Framer framer;
	bool use_work = false;
	std::complex<double> phasor{1.0, 0.0}, step;
	unsigned since_norm = 0;
	std::vector<float> work, mixed, framed, clean;

	explicit Impl(const Settings &st) : s(st), framer(one_slot(st.channel), st.seed) {}

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

	// The complex baseband through the narrow filter and to the frame rate.
	void baseband(const float *iq, size_t n, std::vector<unsigned char> &out, bool flush)
	{
		framed.clear();
		if (!flush)
			to_frames.push(iq, n, framed);
		else
			to_frames.finish(framed);
		framer.put(s.channel, framed.data(), framed.size() / 2);
		framer.emit(out);
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
		err = m.to_frames.open(m.rate0, s.frame_rate);
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
	audio = finite(audio, n, m.clean);
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
	m.framer.finish(out);
}

uint64_t Converter::frames() const
{
	return impl_->framer.frames();
}

// ------------------------------------------------------------- centre finder

struct CentreFinder::Impl {
	double rate = 0;
	bool use_work = false;
	streamconv::Resampler to_work;
	std::unique_ptr<streamconv::PairSpectrum> spectrum;
	std::vector<float> work, clean;
};

CentreFinder::CentreFinder(double in_rate) : impl_(std::make_unique<Impl>())
{
	Impl &m = *impl_;
	m.rate = work_rate(in_rate);
	m.use_work = in_rate > m.rate;
	if (m.use_work && !m.to_work.open(in_rate, m.rate, 1).empty())
		m.use_work = false, m.rate = 0; // no spectrum: result() says so
	if (m.rate > 0)
		m.spectrum = std::make_unique<streamconv::PairSpectrum>(m.rate, kKeepSeconds);
}

CentreFinder::~CentreFinder() = default;

void CentreFinder::push(const float *audio, size_t n)
{
	Impl &m = *impl_;
	if (m.rate <= 0)
		return;
	audio = finite(audio, n, m.clean);
	if (m.use_work) {
		m.work.clear();
		m.to_work.run(audio, n, m.work);
		m.spectrum->push_real(m.work.data(), m.work.size());
	} else {
		m.spectrum->push_real(audio, n);
	}
}

double CentreFinder::seconds() const
{
	return impl_->spectrum ? impl_->spectrum->seconds() : 0.0;
}

bool CentreFinder::result(double &centre_hz) const
{
	const Impl &m = *impl_;
	if (!m.spectrum)
		return false;
	const double lo = kLowestCentre, hi = std::min(kHighestCentre, highest_centre(m.rate));
	double rough = 0;
	if (!m.spectrum->find(lo, hi, rough))
		return false;
	centre_hz = streamconv::refine_centre(m.spectrum->kept(), m.rate, rough);
	return true;
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
