// Audio to device stream: mixing, resampling, level, framing; the tone
// centre finder.  See navaudio.h.
#include "navaudio.h"

#include <fftw3.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

#include "navsynth.h"

namespace navaudio {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Audio above this rate is first brought down to it: the tones never lie
// above 3.6 kHz, and the later stages then work on few samples.
constexpr double kAudioWorkRate = 8000.0;
// Baseband rate of the narrow channel filter: the resampler's low-pass
// keeps +-365 Hz (the tones at +-85 Hz with their keying sidebands and a
// centre that is somewhat off) and removes the mirror image of the tones,
// which the mixing puts 2 x centre away, even for a centre of 200 Hz.
constexpr double kNarrowRate = 800.0;
constexpr double kLowestAllowedCentre = 200.0;
// Reach of the tones and their keying sidebands from the centre.
constexpr double kToneReach = kShiftHz + 100.0;
// Frames over which the level is averaged (about 0.15 s).
constexpr double kLevelFrames = 256.0;
// Below this mean level (full scale 1) the audio counts as silence and is
// not amplified further.
constexpr double kSilence = 1e-6;
constexpr double kOtherChannelNoise = 20.0;

double work_rate(double in_rate)
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
}

uint64_t Converter::frames() const
{
	return impl_->frames;
}

// ------------------------------------------------------------- centre finder

namespace {

// Audio kept for refining the centre: ten minutes at 8 kHz are 19 MB.
constexpr double kKeepSeconds = 600.0;

// The keyed spectrum is lopsided (the code sends more 1 bits than 0 bits,
// and each tone's energy spreads towards the other), so the spectral peak
// is a few hertz off.  The instantaneous frequency of continuous-phase FSK
// sits exactly on the two tones, whatever the bits: the mean phase turn
// of the bits on the upper tone and of those on the lower tone, in the
// audio mixed down by the rough centre, give the true one.  Returns
// `rough` when the audio shows no such two tones.
double refine_once(const std::vector<float> &x, double rate, double rough)
{
	Resampler narrow;
	if (!narrow.open(rate, kNarrowRate, 2).empty())
		return rough;
	std::vector<float> mixed, z;
	const std::complex<double> step = std::polar(1.0, -2 * kPi * rough / rate);
	std::complex<double> ph{1.0, 0.0};
	constexpr size_t kPart = 8192;
	for (size_t k0 = 0; k0 < x.size(); k0 += kPart) {
		const size_t n = std::min(kPart, x.size() - k0);
		mixed.resize(2 * n);
		for (size_t k = 0; k < n; k++) {
			mixed[2 * k] = static_cast<float>(x[k0 + k] * ph.real());
			mixed[2 * k + 1] = static_cast<float>(x[k0 + k] * ph.imag());
			ph *= step;
		}
		ph /= std::abs(ph);
		narrow.run(mixed.data(), n, z);
	}
	narrow.drain(z);
	const size_t n = z.size() / 2;
	if (n < 2)
		return rough;
	// Phase turns from one sample to the next, summed over a bit (8
	// samples): within a bit the tone turns steadily, so the sum keeps it
	// while the noise partly cancels, and the bit is told apart reliably.
	std::vector<std::complex<double>> step1(n), turn(n);
	std::vector<double> amp(n);
	for (size_t k = 1; k < n; k++) {
		const std::complex<double> a(z[2 * k], z[2 * k + 1]), b(z[2 * k - 2], z[2 * k - 1]);
		step1[k] = a * std::conj(b);
	}
	constexpr size_t kBit = 8;
	std::complex<double> run{0, 0};
	for (size_t k = 1; k < n; k++) {
		run += step1[k];
		if (k > kBit)
			run -= step1[k - kBit];
		turn[k] = run;
		amp[k] = std::abs(run);
	}
	// The strongest quarter: the transmission rather than the noise around
	// it, even in a recording that is mostly noise.
	std::vector<double> sorted(amp.begin() + 1, amp.end());
	std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() * 3 / 4), sorted.end());
	const double strong = sorted[sorted.size() * 3 / 4];
	// Each tone's frequency from the sum of the turns of its bits: noise
	// adds turns of every direction that largely cancel.  Only turns well
	// inside a tone's half of the circle count; those that straddle a
	// change of tone would drag it towards the middle, more so the tone
	// sent less often (the code has more 1 bits than 0 bits).
	const double tone_turn = 2 * kPi * kShiftHz / kNarrowRate;
	double e = 0;
	for (int pass = 0; pass < 30; pass++) {
		const std::complex<double> back = std::polar(1.0, -2 * kPi * e / kNarrowRate);
		std::complex<double> hi{0, 0}, lo{0, 0};
		size_t n_hi = 0, n_lo = 0;
		for (size_t k = 1; k < n; k++) {
			if (amp[k] < strong)
				continue;
			const double a = std::arg(turn[k] * back);
			if (a > 0.5 * tone_turn && a < 1.5 * tone_turn) {
				hi += turn[k];
				n_hi++;
			} else if (a < -0.5 * tone_turn && a > -1.5 * tone_turn) {
				lo += turn[k];
				n_lo++;
			}
		}
		// At least half a second of each tone (at 800 samples per second).
		if (n_hi < 400 || n_lo < 400)
			return rough;
		const double f_hi = std::arg(hi) * kNarrowRate / (2 * kPi), f_lo = std::arg(lo) * kNarrowRate / (2 * kPi);
		// Not a tone pair 170 Hz apart: keep the spectral estimate.
		if (std::fabs(f_hi - f_lo - 2 * kShiftHz) > 30)
			return rough;
		const double next = 0.5 * (f_hi + f_lo);
		const bool still = std::fabs(next - e) < 0.01;
		e = next;
		if (still)
			break;
	}
	return std::fabs(e) <= 15.0 ? rough + e : rough;
}

// What noise is left in the sums lies around the frequency mixed to zero
// and pulls the estimate towards it; mixing at each better estimate again
// takes that pull away.
double refine_centre(const std::vector<float> &x, double rate, double rough)
{
	double c = rough;
	for (int pass = 0; pass < 4; pass++) {
		const double next = refine_once(x, rate, c);
		if (next == c || std::fabs(next - rough) > 15.0)
			break;
		c = next;
	}
	return c;
}

} // namespace

struct CentreFinder::Impl {
	double rate = 0;
	bool use_work = false;
	Resampler to_work;
	int n = 0; // transform length, about one second
	std::vector<double> window, power;
	std::vector<float> pending, work, clean;
	double *in = nullptr;
	fftw_complex *spec = nullptr;
	fftw_plan plan = nullptr;
	uint64_t seen = 0;
	int spectra = 0;
	// The first minutes of audio at the work rate, for the refinement.
	std::vector<float> kept;

	~Impl()
	{
		if (plan)
			fftw_destroy_plan(plan);
		fftw_free(in);
		fftw_free(spec);
	}

	void analyse(const float *x, size_t count)
	{
		seen += count;
		const size_t keep = static_cast<size_t>(kKeepSeconds * rate);
		if (kept.size() < keep)
			kept.insert(kept.end(), x, x + std::min(count, keep - kept.size()));
		pending.insert(pending.end(), x, x + count);
		const size_t len = static_cast<size_t>(n), hop = len / 2;
		size_t pos = 0;
		while (pending.size() - pos >= len) {
			for (size_t k = 0; k < len; k++)
				in[k] = window[k] * pending[pos + k];
			fftw_execute(plan);
			for (size_t k = 0; k < power.size(); k++)
				power[k] += spec[k][0] * spec[k][0] + spec[k][1] * spec[k][1];
			spectra++;
			pos += hop;
		}
		pending.erase(pending.begin(), pending.begin() + static_cast<long>(pos));
	}
};

CentreFinder::CentreFinder(double in_rate) : impl_(std::make_unique<Impl>())
{
	Impl &m = *impl_;
	m.rate = work_rate(in_rate);
	m.use_work = in_rate > m.rate;
	if (m.use_work && !m.to_work.open(in_rate, m.rate, 1).empty())
		m.use_work = false, m.rate = 0; // no spectrum: result() says so
	// A power of two of at least one second: bins of 1 Hz or finer.
	m.n = 1;
	while (m.n < m.rate)
		m.n *= 2;
	m.window.resize(static_cast<size_t>(m.n));
	for (int k = 0; k < m.n; k++)
		m.window[static_cast<size_t>(k)] = 0.5 - 0.5 * std::cos(2 * kPi * k / m.n);
	m.power.assign(static_cast<size_t>(m.n / 2 + 1), 0.0);
	m.in = fftw_alloc_real(static_cast<size_t>(m.n));
	m.spec = fftw_alloc_complex(static_cast<size_t>(m.n / 2 + 1));
	m.plan = fftw_plan_dft_r2c_1d(m.n, m.in, m.spec, FFTW_ESTIMATE);
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
		m.analyse(m.work.data(), m.work.size());
	} else {
		m.analyse(audio, n);
	}
}

double CentreFinder::seconds() const
{
	return impl_->rate > 0 ? static_cast<double>(impl_->seen) / impl_->rate : 0.0;
}

bool CentreFinder::result(double &centre_hz) const
{
	const Impl &m = *impl_;
	if (m.spectra == 0)
		return false;
	const double df = m.rate / m.n;
	// A tone's power: its bins within +-15 Hz (keying spreads it), weighted
	// by a triangle, so that the score peaks where the tone is centred
	// rather than staying level while it is anywhere inside the window.
	constexpr double kHalfWidth = 15.0;
	auto tone = [&](double f) {
		const long k0 = std::max(0L, static_cast<long>(std::ceil((f - kHalfWidth) / df)));
		const long k1 = std::min(static_cast<long>(m.power.size()) - 1,
					 static_cast<long>(std::floor((f + kHalfWidth) / df)));
		double sum = 0;
		for (long k = k0; k <= k1; k++)
			sum += m.power[static_cast<size_t>(k)] * (1.0 - std::fabs(k * df - f) / kHalfWidth);
		return sum;
	};

	const double lo = kLowestCentre, hi = std::min(kHighestCentre, highest_centre(m.rate));
	if (hi < lo)
		return false;
	constexpr double kStep = 0.25;
	double best = -1, best_f = 0;
	std::vector<double> windows;
	for (double f = lo; f <= hi; f += kStep) {
		// Both tones must be there: a single carrier scores low.
		const double score = std::sqrt(tone(f - kShiftHz) * tone(f + kShiftHz));
		if (score > best) {
			best = score;
			best_f = f;
		}
		windows.push_back(tone(f));
	}
	// The pair must stand out of the typical window: the noise floor.
	std::nth_element(windows.begin(), windows.begin() + static_cast<long>(windows.size() / 2), windows.end());
	const double floor = windows[windows.size() / 2];
	if (!(best > 2.0 * floor))
		return false;
	centre_hz = refine_centre(m.kept, m.rate, best_f);
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
