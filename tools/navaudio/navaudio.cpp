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
// A last window shorter than this (after full ones) has too few spectra
// for a steady noise floor; it takes its centre from the one before.
constexpr double kMinTailSeconds = 15.0;

double work_rate(double in_rate)
{
	return std::min(in_rate, kAudioWorkRate);
}

// The audio as the filters may take it: a copy with the samples that
// sanitise() would change changed, or the audio itself when none is.
const float *in_range(const float *x, size_t n, std::vector<float> &scratch)
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

std::array<bool, streamconv::kSlots> one_slot(int channel)
{
	std::array<bool, streamconv::kSlots> c{};
	c[static_cast<size_t>(channel)] = true;
	return c;
}

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
	m.framer.finish(out);
}

uint64_t Converter::frames() const
{
	return impl_->framer.frames();
}

void Converter::set_centre(double centre_hz)
{
	Impl &m = *impl_;
	m.s.centre_hz = centre_hz;
	m.step = std::polar(1.0, 2 * kPi * centre_hz / m.rate0);
}

// ------------------------------------------------------------- centre finder

struct CentreFinder::Impl {
	double rate = 0;
	bool use_work = false;
	streamconv::Resampler to_work;
	size_t window_len = 0; // samples of one window
	size_t in_window = 0;  // samples of the current one so far
	uint64_t seen = 0;
	std::unique_ptr<streamconv::PairSpectrum> spectrum; // the current window's
	std::vector<CentreWindow> done;
	std::vector<float> work, clean;

	void new_window() { spectrum = std::make_unique<streamconv::PairSpectrum>(rate, kWindowSeconds); }

	// The current window judged: found, with its refined centre, or not.
	CentreWindow judge() const
	{
		CentreWindow w;
		w.from_s = static_cast<double>(done.size() * window_len) / rate;
		const double lo = kLowestCentre, hi = std::min(kHighestCentre, highest_centre(rate));
		double rough = 0;
		w.found = spectrum->find(lo, hi, rough, &w.strength);
		if (w.found)
			w.centre_hz = streamconv::refine_centre(spectrum->kept(), rate, rough);
		return w;
	}

	void analyse(const float *x, size_t count)
	{
		seen += count;
		while (count > 0) {
			const size_t take = std::min(count, window_len - in_window);
			spectrum->push_real(x, take);
			in_window += take;
			x += take;
			count -= take;
			if (in_window == window_len) {
				done.push_back(judge());
				new_window();
				in_window = 0;
			}
		}
	}
};

CentreFinder::CentreFinder(double in_rate) : impl_(std::make_unique<Impl>())
{
	Impl &m = *impl_;
	m.rate = work_rate(in_rate);
	m.use_work = in_rate > m.rate;
	if (m.use_work && !m.to_work.open(in_rate, m.rate, 1).empty())
		m.use_work = false, m.rate = 0; // no spectrum: result() says so
	if (m.rate > 0) {
		m.window_len = static_cast<size_t>(kWindowSeconds * m.rate);
		m.new_window();
	}
}

CentreFinder::~CentreFinder() = default;

void CentreFinder::push(const float *audio, size_t n)
{
	Impl &m = *impl_;
	if (m.rate <= 0 || n == 0)
		return;
	audio = in_range(audio, n, m.clean);
	if (m.use_work) {
		m.work.clear();
		m.to_work.run(audio, n, m.work);
		m.analyse(m.work.data(), m.work.size());
	} else {
		m.analyse(audio, n);
	}
}

double CentreFinder::seconds() const
{
	return impl_->rate > 0 ? static_cast<double>(impl_->seen) / impl_->rate : 0.0;
}

std::vector<CentreWindow> CentreFinder::windows() const
{
	const Impl &m = *impl_;
	std::vector<CentreWindow> w = m.done;
	if (m.rate > 0 && m.in_window > 0) {
		if (w.empty() || static_cast<double>(m.in_window) >= kMinTailSeconds * m.rate)
			w.push_back(m.judge());
		else
			w.push_back(CentreWindow{static_cast<double>(w.size() * m.window_len) / m.rate, false, 0, 0});
	}
	// A window without a pair of its own takes the centre of the nearest
	// one before it that has one, or else after it.
	for (size_t k = 0; k < w.size(); k++) {
		if (w[k].found)
			continue;
		for (size_t d = 1; d < w.size() && w[k].centre_hz == 0; d++) {
			if (k >= d && w[k - d].found)
				w[k].centre_hz = w[k - d].centre_hz;
			else if (k + d < w.size() && w[k + d].found)
				w[k].centre_hz = w[k + d].centre_hz;
		}
	}
	return w;
}

bool CentreFinder::result(double &centre_hz) const
{
	const std::vector<CentreWindow> w = windows();
	const CentreWindow *best = nullptr;
	for (const CentreWindow &x : w)
		if (x.found && (!best || x.strength > best->strength))
			best = &x;
	if (!best)
		return false;
	centre_hz = best->centre_hz;
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
