// Tone-pair centre: averaged spectrum and refinement; see tone_centre.h.
#include "tone_centre.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>

#include "resampler.h"

namespace streamconv {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The keyed spectrum is lopsided (the code sends more 1 bits than 0 bits,
// and each tone's energy spreads towards the other), so the spectral peak
// is a few hertz off.  The instantaneous frequency of continuous-phase FSK
// sits exactly on the two tones, whatever the bits: the mean phase turn
// of the bits on the upper tone and of those on the lower tone, in the
// signal mixed down by the rough centre, give the true one.  Returns
// `rough` when the samples show no such two tones.
double refine_once(const std::vector<float> &x, double rate, double rough)
{
	Resampler narrow;
	if (!narrow.open(rate, kNarrowRate, 2).empty())
		return rough;
	std::vector<float> mixed, z;
	const std::complex<double> step = std::polar(1.0, -2 * kPi * rough / rate);
	std::complex<double> ph{1.0, 0.0};
	constexpr size_t kPart = 8192;
	const size_t total = x.size() / 2;
	for (size_t k0 = 0; k0 < total; k0 += kPart) {
		const size_t n = std::min(kPart, total - k0);
		mixed.resize(2 * n);
		for (size_t k = 0; k < n; k++) {
			const std::complex<double> v(x[2 * (k0 + k)], x[2 * (k0 + k) + 1]);
			const std::complex<double> m = v * ph;
			mixed[2 * k] = static_cast<float>(m.real());
			mixed[2 * k + 1] = static_cast<float>(m.imag());
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

} // namespace

// What noise is left in the sums lies around the frequency mixed to zero
// and pulls the estimate towards it; mixing at each better estimate again
// takes that pull away.
double refine_centre(const std::vector<float> &iq, double rate, double rough)
{
	double c = rough;
	for (int pass = 0; pass < 4; pass++) {
		const double next = refine_once(iq, rate, c);
		if (next == c || std::fabs(next - rough) > 15.0)
			break;
		c = next;
	}
	return c;
}

struct PairSpectrum::Impl {
	double rate = 0;
	size_t keep = 0;
	int n = 0; // transform length, about one second
	std::vector<double> window, power;
	std::vector<float> pending; // interleaved complex
	fftw_complex *in = nullptr, *spec = nullptr;
	fftw_plan plan = nullptr;
	uint64_t seen = 0;
	int spectra = 0;
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
		if (kept.size() < 2 * keep)
			kept.insert(kept.end(), x, x + 2 * std::min(count, keep - kept.size() / 2));
		pending.insert(pending.end(), x, x + 2 * count);
		const size_t len = static_cast<size_t>(n), hop = len / 2;
		size_t pos = 0;
		while (pending.size() / 2 - pos >= len) {
			for (size_t k = 0; k < len; k++) {
				in[k][0] = window[k] * pending[2 * (pos + k)];
				in[k][1] = window[k] * pending[2 * (pos + k) + 1];
			}
			fftw_execute(plan);
			for (size_t k = 0; k < len; k++)
				power[k] += spec[k][0] * spec[k][0] + spec[k][1] * spec[k][1];
			spectra++;
			pos += hop;
		}
		pending.erase(pending.begin(), pending.begin() + static_cast<long>(2 * pos));
	}
};

PairSpectrum::PairSpectrum(double rate, double keep_seconds) : impl_(std::make_unique<Impl>())
{
	Impl &m = *impl_;
	m.rate = rate;
	m.keep = static_cast<size_t>(std::max(0.0, keep_seconds) * rate);
	// A power of two of at least one second: bins of 1 Hz or finer.
	m.n = 1;
	while (m.n < rate)
		m.n *= 2;
	m.window.resize(static_cast<size_t>(m.n));
	for (int k = 0; k < m.n; k++)
		m.window[static_cast<size_t>(k)] = 0.5 - 0.5 * std::cos(2 * kPi * k / m.n);
	m.power.assign(static_cast<size_t>(m.n), 0.0);
	m.in = fftw_alloc_complex(static_cast<size_t>(m.n));
	m.spec = fftw_alloc_complex(static_cast<size_t>(m.n));
	m.plan = fftw_plan_dft_1d(m.n, m.in, m.spec, FFTW_FORWARD, FFTW_ESTIMATE);
}

PairSpectrum::~PairSpectrum() = default;

void PairSpectrum::push(const float *iq, size_t n)
{
	impl_->analyse(iq, n);
}

void PairSpectrum::push_real(const float *x, size_t n)
{
	std::vector<float> c(2 * n, 0.0f);
	for (size_t k = 0; k < n; k++)
		c[2 * k] = x[k];
	impl_->analyse(c.data(), n);
}

double PairSpectrum::seconds() const
{
	return impl_->rate > 0 ? static_cast<double>(impl_->seen) / impl_->rate : 0.0;
}

const std::vector<float> &PairSpectrum::kept() const
{
	return impl_->kept;
}

bool PairSpectrum::find(double lo, double hi, double &centre_hz, double *strength) const
{
	const Impl &m = *impl_;
	if (m.spectra == 0 || hi < lo)
		return false;
	const double df = m.rate / m.n;
	const long len = m.n;
	// A tone's power: its bins within +-15 Hz (keying spreads it), weighted
	// by a triangle, so that the score peaks where the tone is centred
	// rather than staying level while it is anywhere inside the window.
	// Negative frequencies lie in the upper half of the transform.
	constexpr double kHalfWidth = 15.0;
	auto tone = [&](double f) {
		const long k0 = static_cast<long>(std::ceil((f - kHalfWidth) / df));
		const long k1 = static_cast<long>(std::floor((f + kHalfWidth) / df));
		double sum = 0;
		for (long k = k0; k <= k1; k++) {
			if (k <= -len / 2 || k >= len / 2)
				continue;
			sum += m.power[static_cast<size_t>((k + len) % len)] * (1.0 - std::fabs(k * df - f) / kHalfWidth);
		}
		return sum;
	};

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
	centre_hz = best_f;
	if (strength)
		*strength = best / floor;
	return true;
}

} // namespace streamconv
