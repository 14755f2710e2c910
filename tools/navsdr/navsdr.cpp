// Wideband I/Q to the device stream; see navsdr.h.
#include "navsdr.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

#include "resampler.h"
#include "tone_centre.h"

namespace navsdr {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kWorkRate = 8000.0;
// Share of the capture's rate that counts as usable: SDRs roll off
// towards the band edges.
constexpr double kUsable = 0.45;
// What a channel needs around its frequency: the tone search and the
// tones' reach beyond it.
constexpr double kChannelReach = kSearchHz + 500.0;

// Complex samples times a turning phasor: frequency `hz` at `rate` moves
// to 0 Hz.  The phasor is renormalised block by block.
struct Mixer {
	std::complex<double> ph{1.0, 0.0}, step{1.0, 0.0};
	void set(double hz, double rate) { step = std::polar(1.0, -2 * kPi * hz / rate); }
	void run(const float *in, size_t n, std::vector<float> &out)
	{
		out.resize(2 * n);
		for (size_t k = 0; k < n; k++) {
			const double i = in[2 * k], q = in[2 * k + 1];
			out[2 * k] = static_cast<float>(i * ph.real() - q * ph.imag());
			out[2 * k + 1] = static_cast<float>(i * ph.imag() + q * ph.real());
			ph *= step;
		}
		ph /= std::abs(ph);
	}
};

} // namespace

double band_low(const Settings &s)
{
	return s.centre_hz - kUsable * s.in_rate;
}

double band_high(const Settings &s)
{
	return s.centre_hz + kUsable * s.in_rate;
}

bool inside(const Settings &s, int slot)
{
	const double off = s.chan_hz[static_cast<size_t>(slot)] - s.centre_hz;
	return std::fabs(off) + kChannelReach <= kUsable * s.in_rate;
}

std::string band_text(const Settings &s)
{
	char buf[100];
	snprintf(buf, sizeof buf, "%.1f to %.1f kHz", std::max(0.0, band_low(s)) / 1000, band_high(s) / 1000);
	return buf;
}

std::string check(const Settings &s)
{
	char buf[300];
	if (!(s.in_rate >= kMinRate && s.in_rate <= kMaxRate)) {
		snprintf(buf, sizeof buf, "I/Q rate %g is out of range (%g to %g samples per second)", s.in_rate,
			 kMinRate, kMaxRate);
		return buf;
	}
	if (!(s.frame_rate >= kMinFrameRate && s.frame_rate <= kMaxFrameRate)) {
		snprintf(buf, sizeof buf, "frame rate %g is out of range (%g to %g frames per second)", s.frame_rate,
			 kMinFrameRate, kMaxFrameRate);
		return buf;
	}
	if (!(s.centre_hz >= 0 && s.centre_hz < 1e11))
		return "the centre frequency must be 0 Hz or more";
	bool any = false;
	for (int k = 0; k < kSlots; k++) {
		const bool in = inside(s, k);
		if (s.given[static_cast<size_t>(k)] && !in) {
			snprintf(buf, sizeof buf,
				 "the %g kHz channel given at %.1f kHz lies outside the capture, which covers %s", kNominalHz[k] / 1000,
				 s.chan_hz[static_cast<size_t>(k)] / 1000, band_text(s).c_str());
			return buf;
		}
		any = any || in;
	}
	if (!any) {
		snprintf(buf, sizeof buf,
			 "the capture holds no NAVTEX frequency (490, 518 or 4209.5 kHz): centred at %.1f kHz it covers "
			 "%s; give the centre with -f or a channel's frequency with -c",
			 s.centre_hz / 1000, band_text(s).c_str());
		return buf;
	}
	return "";
}

struct Converter::Impl {
	struct Slot {
		bool on = false;
		Mixer to_zero, tone;
		streamconv::Resampler to_work;
		std::unique_ptr<streamconv::PairSpectrum> spectrum;
		streamconv::NarrowToFrames to_frames;
		std::vector<float> held; // work-rate samples before the decision
		ChannelReport rep;
	};
	Settings s;
	double analysis_s = 0;
	std::string error;
	bool use_band = false;
	double rate1 = 0;
	streamconv::Resampler band;
	std::array<Slot, kSlots> slot;
	streamconv::Framer framer;
	bool decided = false;
	std::vector<float> narrowed, mixed, work, framed, toned;

	static std::array<bool, kSlots> carries(const Settings &st)
	{
		std::array<bool, kSlots> c{};
		for (int k = 0; k < kSlots; k++)
			c[static_cast<size_t>(k)] = inside(st, k);
		return c;
	}

	Impl(const Settings &st, double a) : s(st), analysis_s(a), framer(carries(st), st.seed) {}

	// Work-rate samples of one slot to frames, the tone centre at 0 Hz.
	void convert(Slot &sl, int k, const float *w, size_t n)
	{
		sl.tone.run(w, n, toned);
		framed.clear();
		sl.to_frames.push(toned.data(), n, framed);
		framer.put(k, framed.data(), framed.size() / 2);
	}

	void decide(std::vector<unsigned char> &out)
	{
		double sum = 0;
		int found = 0;
		for (Slot &sl : slot) {
			if (!sl.on)
				continue;
			double rough = 0;
			if (sl.spectrum->find(-kSearchHz, kSearchHz, rough)) {
				sl.rep.found = true;
				sl.rep.tone_hz = streamconv::refine_centre(sl.held, kWorkRate, rough);
				sum += sl.rep.tone_hz;
				found++;
			}
		}
		// A channel without a signal yet: the capture's frequency error
		// shifts every channel alike, so it is expected where the others
		// were found off.
		const double expect = found > 0 ? sum / found : 0.0;
		for (int k = 0; k < kSlots; k++) {
			Slot &sl = slot[static_cast<size_t>(k)];
			if (!sl.on)
				continue;
			if (!sl.rep.found)
				sl.rep.tone_hz = expect;
			sl.tone.set(sl.rep.tone_hz, kWorkRate);
			convert(sl, k, sl.held.data(), sl.held.size() / 2);
			sl.held.clear();
			sl.held.shrink_to_fit();
			sl.spectrum.reset();
			sl.rep.tone_hz += s.chan_hz[static_cast<size_t>(k)];
		}
		decided = true;
		framer.emit(out);
	}

	// Band samples at rate1 to each slot's work rate.
	void channels(const float *x, size_t n, std::vector<unsigned char> &out, bool flush)
	{
		for (int k = 0; k < kSlots; k++) {
			Slot &sl = slot[static_cast<size_t>(k)];
			if (!sl.on)
				continue;
			work.clear();
			if (!flush) {
				sl.to_zero.run(x, n, mixed);
				sl.to_work.run(mixed.data(), n, work);
			} else {
				sl.to_work.drain(work);
			}
			const size_t m = work.size() / 2;
			if (decided) {
				convert(sl, k, work.data(), m);
			} else {
				sl.spectrum->push(work.data(), m);
				sl.held.insert(sl.held.end(), work.begin(), work.end());
			}
		}
		if (decided) {
			framer.emit(out);
			return;
		}
		for (const Slot &sl : slot)
			if (sl.on && sl.spectrum->seconds() >= analysis_s) {
				decide(out);
				break;
			}
	}
};

Converter::Converter(const Settings &s, double analysis_s) : impl_(std::make_unique<Impl>(s, analysis_s))
{
	Impl &m = *impl_;
	// The whole band first comes down to the lowest rate that holds every
	// channel with its reach and the work filter's band, in a whole
	// fraction of the capture's rate.
	double reach = 0;
	for (int k = 0; k < kSlots; k++)
		if (inside(s, k))
			reach = std::max(reach, std::fabs(s.chan_hz[static_cast<size_t>(k)] - s.centre_hz));
	const double need = (reach + 0.5 * kWorkRate) / kUsable;
	const double factor = std::floor(s.in_rate / need);
	m.use_band = factor >= 2;
	m.rate1 = m.use_band ? s.in_rate / factor : s.in_rate;
	std::string err;
	// 16-bit quality: an SDR's 8- or 16-bit samples hold no more, and
	// this stage takes most of the time.
	if (m.use_band)
		err = m.band.open(s.in_rate, m.rate1, 2, streamconv::Resampler::k16Bit);
	for (int k = 0; k < kSlots && err.empty(); k++) {
		Impl::Slot &sl = m.slot[static_cast<size_t>(k)];
		sl.on = inside(s, k);
		sl.rep.inside = sl.on;
		if (!sl.on)
			continue;
		sl.to_zero.set(s.chan_hz[static_cast<size_t>(k)] - s.centre_hz, m.rate1);
		err = sl.to_work.open(m.rate1, kWorkRate, 2);
		if (err.empty())
			err = sl.to_frames.open(kWorkRate, s.frame_rate);
		sl.spectrum = std::make_unique<streamconv::PairSpectrum>(kWorkRate, 0.0);
	}
	m.error = err;
}

Converter::~Converter() = default;

const std::string &Converter::error() const
{
	return impl_->error;
}

void Converter::push(const float *iq, size_t n, std::vector<unsigned char> &out)
{
	Impl &m = *impl_;
	if (!m.error.empty() || n == 0)
		return;
	if (m.use_band) {
		m.narrowed.clear();
		m.band.run(iq, n, m.narrowed);
		m.channels(m.narrowed.data(), m.narrowed.size() / 2, out, false);
	} else {
		m.channels(iq, n, out, false);
	}
}

void Converter::finish(std::vector<unsigned char> &out)
{
	Impl &m = *impl_;
	if (!m.error.empty())
		return;
	if (m.use_band) {
		m.narrowed.clear();
		m.band.drain(m.narrowed);
		m.channels(m.narrowed.data(), m.narrowed.size() / 2, out, false);
	}
	m.channels(nullptr, 0, out, true);
	if (!m.decided)
		m.decide(out);
	for (int k = 0; k < kSlots; k++) {
		Impl::Slot &sl = m.slot[static_cast<size_t>(k)];
		if (!sl.on)
			continue;
		m.framed.clear();
		sl.to_frames.finish(m.framed);
		m.framer.put(k, m.framed.data(), m.framed.size() / 2);
	}
	m.framer.finish(out);
}

bool Converter::decided() const
{
	return impl_->decided;
}

std::array<ChannelReport, kSlots> Converter::report() const
{
	std::array<ChannelReport, kSlots> r;
	for (int k = 0; k < kSlots; k++)
		r[static_cast<size_t>(k)] = impl_->slot[static_cast<size_t>(k)].rep;
	return r;
}

uint64_t Converter::frames() const
{
	return impl_->framer.frames();
}

} // namespace navsdr
