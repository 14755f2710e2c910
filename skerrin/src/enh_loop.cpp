// Enhanced chain, bit loop: see enh_loop.h.
#include "enh_loop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "enh_acq.h"

namespace {

constexpr double kMinPeriod = 16.88, kMaxPeriod = 17.2;
constexpr int kMaxGear = 300; // characters of memory of the timing loop
constexpr int kStartGear = 12;
constexpr int kGearAfterPhasing = 150; // at most, after 25 peaks or more
constexpr int kGearPerPeak = 6;
constexpr int64_t kMinPeriodQ = enh_q16(kMinPeriod), kMaxPeriodQ = enh_q16(kMaxPeriod);
constexpr int kPeakWindow = 14;            // samples either side of a due peak
constexpr int kPeakNum = 7, kPeakDen = 20; // a due peak counts above 0.35

// a / b rounded to the nearest, b > 0.
int64_t rounded(int64_t a, int64_t b)
{
	return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b);
}

// The phasing peak due in this window: found, it refines the line through
// the peaks and re-anchors the clock on it; missed twice, the phasing has
// ended and the loop alone keeps the clock.  Returns 1 when it ended.
int phasing_peak(enh_loop *c)
{
	const int w = 2 * kPeakWindow + 1;
	int best = 0;
	for (int i = 1; i < w; i++)
		if (c->win_c[i] > c->win_c[best])
			best = i;
	const int m = c->peaks++;
	const int64_t per = c->period;
	if (best == 0 || best == w - 1 || c->win_c[best] * kPeakDen <= c->win_e[best] * kPeakNum) {
		int ended = 0;
		// The first periods' peaks may still be dragged by the window
		// reaching back before the signal: the phasing has ended only
		// after a few found and then two missed.
		if (++c->misses >= (c->fit_n >= 4 ? 2 : 4)) {
			// A short phasing leaves the rate unsure: the loop starts
			// wider the fewer peaks the line was fitted to.
			c->phasing = 0;
			c->k = static_cast<int>(std::clamp<int64_t>(c->fit_n * kGearPerPeak, kStartGear, kGearAfterPhasing));
			ended = 1;
		}
		c->expect += (14 * per + 0x8000) >> 16;
		return ended;
	}
	c->misses = 0;
	// The peak's time (Q16 samples from the lock's peak), between samples
	// by a parabola through the three best.
	const int64_t a = c->win_c[best - 1], b = c->win_c[best], cc = c->win_c[best + 1];
	const int64_t den = a - 2 * b + cc;
	const int64_t frac = den < 0 ? std::clamp(-rounded((a - cc) << 15, -den), int64_t(-32768), int64_t(32768)) : 0;
	const int64_t t = ((c->expect - kPeakWindow + best - c->origin) << 16) + frac;
	int64_t slope = 14 * per, icpt = t - m * slope;
	{
		c->fit_n += 1;
		c->fit_m += m;
		c->fit_mm += int64_t(m) * m;
		c->fit_t += t;
		c->fit_mt += m * t;
		const int64_t det = c->fit_n * c->fit_mm - c->fit_m * c->fit_m;
		if (det > 0 && c->fit_n >= 3) {
			slope = rounded(c->fit_n * c->fit_mt - c->fit_m * c->fit_t, det);
			icpt = rounded(c->fit_t - slope * c->fit_m, c->fit_n);
		}
	}
	const int64_t np = std::clamp(rounded(slope, 14), kMinPeriodQ, kMaxPeriodQ);
	// Taps spaced for the acquisition period put the peak where the
	// pattern's middle fits; the last bit's end lies off by the spacing
	// error over the 20.5 bits from the middle.
	const int64_t end = icpt + m * 14 * np - rounded(41 * (enh_q16(ENH_ACQ_PERIOD) - np), 2);
	const int64_t next = end + (c->bits + 1 - 14 * int64_t(m)) * np;
	const int64_t tau = (c->origin << 16) + next;
	if (std::llabs(tau - c->tau) < c->period / 2)
		c->tau = tau;
	c->period = np;
	c->rate = np << 8;
	c->expect = c->origin + ((end + 14 * np + 0x8000) >> 16);
	return 0;
}

} // namespace

void enh_loop_start(enh_loop *c, int64_t peak, int32_t d, bool traffic)
{
	std::memset(c, 0, sizeof *c);
	c->period = enh_q16(ENH_ACQ_PERIOD);
	c->rate = c->period << 8;
	c->tau = (peak << 16) + c->period;
	c->prev_d = d;
	c->k = kStartGear;
	c->phasing = 1;
	c->origin = peak;
	c->peaks = 1;
	c->expect = peak + static_cast<int64_t>(14 * ENH_ACQ_PERIOD + 0.5);
	c->win_left = -1;
	c->fit_n = 1; // the lock's own peak: m = 0, t = 0
	if (traffic)
		c->phasing = 0;
}

int enh_loop_sample(enh_loop *c, const enh_pair &p, int64_t n)
{
	if (!c->phasing)
		return 0;
	if (c->win_left <= 0 && n >= c->expect - kPeakWindow) {
		c->expect = n + kPeakWindow;
		c->win_left = 2 * kPeakWindow + 1;
	}
	if (c->win_left > 0) {
		const int i = 2 * kPeakWindow + 1 - c->win_left;
		enh_acq_corr(p, n, &c->win_c[i], &c->win_e[i]);
		if (--c->win_left == 0)
			return phasing_peak(c);
	}
	return 0;
}

void enh_loop_bit(enh_loop *c, int64_t d, int64_t mid)
{
	const bool one = d > 0, prev_one = c->prev_d > 0;
	if (one != prev_one) {
		c->g_sum += one ? mid : -mid;
		c->g_count++;
	}
	c->prev_d = static_cast<int32_t>(d);
	c->tau += c->period;
	c->bits++;
}

void enh_loop_char(enh_loop *c, bool faded, int64_t level)
{
	if (!c->phasing && !faded && c->g_count > 0 && level > 0) {
		// Offset of the clock from the bit boundaries, Q16 samples;
		// positive when the clock is late.  The detector's mean over the
		// character against twice the bit's level, in bits.
		const int64_t per = c->period;
		int64_t x = c->g_sum / c->g_count * per / (2 * level); // below 2^52
		x = std::clamp(x, -per / 2, per / 2);
		// Alpha-beta gains of gear k: 2 (2k - 1) / (k (k + 1)) for the phase,
		// 6 / (k (k + 1)) for the rate (per bit: over the 7 of a character).
		const int64_t kk = int64_t(c->k) * (c->k + 1);
		c->tau -= rounded(2 * (2 * c->k - 1) * x, kk);
		c->rate = std::clamp(c->rate - rounded(6 * (x << 8), kk * 7), kMinPeriodQ << 8, kMaxPeriodQ << 8);
		c->period = (c->rate + 128) >> 8;
		if (c->k < kMaxGear)
			c->k += 1;
	}
	c->g_sum = c->g_count = 0;
}
