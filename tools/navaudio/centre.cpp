// Tone centre finder: power spectra (FFTW) of the audio at the work rate,
// summed over windows of a minute; in each window the strongest pair of
// tones 170 Hz apart, when it stands out of the noise, and its centre
// refined from the window's audio.  A short message in a long recording
// stands out in its own window where the whole file's average would bury
// it.  See navaudio.h.
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>

#include "navaudio.h"
#include "resampler.h"

namespace navaudio {

namespace {

// A last window shorter than this (after full ones) has too few spectra
// for a steady noise floor; it takes its centre from the one before.
constexpr double kMinTailSeconds = 15.0;
// How far a pair must stand out of the window's typical tone power.
constexpr double kStandOut = 2.0;

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

// The strongest tone pair in a summed power spectrum: its rough centre
// and how far it stands out of the noise floor (0 when nothing to judge).
double strongest_pair(const std::vector<double> &power, double rate, int n, double &best_f)
{
	const double df = rate / n;
	// A tone's power: its bins within +-15 Hz (keying spreads it), weighted
	// by a triangle, so that the score peaks where the tone is centred
	// rather than staying level while it is anywhere inside the window.
	constexpr double kHalfWidth = 15.0;
	auto tone = [&](double f) {
		const long k0 = std::max(0L, static_cast<long>(std::ceil((f - kHalfWidth) / df)));
		const long k1 = std::min(static_cast<long>(power.size()) - 1,
					 static_cast<long>(std::floor((f + kHalfWidth) / df)));
		double sum = 0;
		for (long k = k0; k <= k1; k++)
			sum += power[static_cast<size_t>(k)] * (1.0 - std::fabs(k * df - f) / kHalfWidth);
		return sum;
	};

	const double lo = kLowestCentre, hi = std::min(kHighestCentre, highest_centre(rate));
	if (hi < lo)
		return 0;
	constexpr double kStep = 0.25;
	double best = -1;
	best_f = 0;
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
	return floor > 0 ? best / floor : 0;
}

} // namespace

struct CentreFinder::Impl {
	double rate = 0;
	bool use_work = false;
	Resampler to_work;
	int n = 0; // transform length, about one second
	size_t window_len = 0; // samples of one window
	std::vector<double> hann, power;
	std::vector<float> pending, work, clean;
	double *in = nullptr;
	fftw_complex *spec = nullptr;
	fftw_plan plan = nullptr;
	uint64_t seen = 0;
	int spectra = 0; // in the current window
	std::vector<float> audio; // the current window's
	std::vector<CentreWindow> done;

	~Impl()
	{
		if (plan)
			fftw_destroy_plan(plan);
		fftw_free(in);
		fftw_free(spec);
	}

	void spectra_of_pending()
	{
		const size_t len = static_cast<size_t>(n), hop = len / 2;
		size_t pos = 0;
		while (pending.size() - pos >= len) {
			for (size_t k = 0; k < len; k++)
				in[k] = hann[k] * pending[pos + k];
			fftw_execute(plan);
			for (size_t k = 0; k < power.size(); k++)
				power[k] += spec[k][0] * spec[k][0] + spec[k][1] * spec[k][1];
			spectra++;
			pos += hop;
		}
		pending.erase(pending.begin(), pending.begin() + static_cast<long>(pos));
	}

	// The current window judged: found, with its refined centre, or not.
	CentreWindow judge() const
	{
		CentreWindow w;
		w.from_s = static_cast<double>(done.size() * window_len) / rate;
		double rough = 0;
		w.strength = spectra > 0 ? strongest_pair(power, rate, n, rough) : 0;
		w.found = w.strength > kStandOut;
		if (w.found)
			w.centre_hz = refine_centre(audio, rate, rough);
		return w;
	}

	void analyse(const float *x, size_t count)
	{
		seen += count;
		while (count > 0) {
			const size_t take = std::min(count, window_len - audio.size());
			audio.insert(audio.end(), x, x + take);
			pending.insert(pending.end(), x, x + take);
			spectra_of_pending();
			x += take;
			count -= take;
			if (audio.size() == window_len) {
				done.push_back(judge());
				audio.clear();
				pending.clear();
				std::fill(power.begin(), power.end(), 0.0);
				spectra = 0;
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
	m.window_len = static_cast<size_t>(kWindowSeconds * m.rate);
	// A power of two of at least one second: bins of 1 Hz or finer.
	m.n = 1;
	while (m.n < m.rate)
		m.n *= 2;
	m.hann.resize(static_cast<size_t>(m.n));
	for (int k = 0; k < m.n; k++)
		m.hann[static_cast<size_t>(k)] = 0.5 - 0.5 * std::cos(2 * kPi * k / m.n);
	m.power.assign(static_cast<size_t>(m.n / 2 + 1), 0.0);
	m.in = fftw_alloc_real(static_cast<size_t>(m.n));
	m.spec = fftw_alloc_complex(static_cast<size_t>(m.n / 2 + 1));
	m.plan = fftw_plan_dft_r2c_1d(m.n, m.in, m.spec, FFTW_ESTIMATE);
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
	if (m.spectra > 0 && (w.empty() || static_cast<double>(m.audio.size()) >= kMinTailSeconds * m.rate))
		w.push_back(m.judge());
	else if (!m.audio.empty() && !w.empty())
		w.push_back(CentreWindow{static_cast<double>(w.size() * m.window_len) / m.rate, false, 0, 0});
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

} // namespace navaudio
