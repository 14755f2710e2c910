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
// Contrast of |d| half a bit before the decisions against at them
// ((mid - on) / (mid + on), Q16), a running mean over kEyeMemory
// characters: in time about -0.33 (at a bit boundary half the evidence
// is gone), -0.2 at 3 dB, 0 a quarter of a bit off, +0.33 half a bit off.
// Above 0 the clock is over a quarter of a bit off.
constexpr int kEyeMemory = 16;
constexpr int32_t kEyeSlip = 0;
constexpr int32_t kEyeStart = -65536 * 3 / 10;
constexpr int kGearAfterSlip = 30; // characters of memory after the move
constexpr int kPeakWindow = 14;            // samples either side of a due peak
constexpr int kPeakNum = 7, kPeakDen = 20; // a due peak counts above 0.35

// The nominal bit: 100 bits a second at 1707.65 samples a second, and
// the phasing period of 14 bits, Q16 samples.
constexpr int64_t kNominalSlopeQ = enh_q16(14 * 17.0765);
constexpr int64_t kShrink = 4; // within two of its standard errors

// a / b rounded to the nearest, b != 0.
int64_t rounded(int64_t a, int64_t b)
{
	if (b < 0) {
		a = -a;
		b = -b;
	}
	return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b);
}

// The fitted slope (Q16 samples per period) drawn toward the nominal bit
// rate by how unsure it is.  Transmitters keep their rate within a few
// hundred ppm, so a short or noisy phasing whose slope differs from the
// nominal by no more than its own uncertainty says little: its error
// (2-3 samples of a peak's time over a second give 0.02-0.05 samples per
// bit) would leave the loop a drift it cannot pull back in noise.  A slope
// that differs plainly (a receiver sampling at 1700 Hz, 0.5 % off) is
// kept: dev - kShrink se^2 / dev, none of it within sqrt(kShrink) se.
int64_t shrunk(enh_loop *c, int64_t slope, int64_t det)
{
	// Spread of a peak's time, Q24 samples^2 (from Q12 residuals), with
	// one sample's worth as a prior while there are few.
	const int64_t var = (c->fit_rr + (int64_t(1) << 24)) / (c->fit_r + 1);
	// Slope variance: var / sum (m - mean m)^2 = var n / det, Q32.
	const int64_t se2 = (var * c->fit_n / det) << 8;
	const int64_t dev = slope - kNominalSlopeQ;
	const int64_t dd = dev * dev;
	if (dd <= kShrink * se2) {
		c->fit_trust = 0;
		return kNominalSlopeQ;
	}
	c->fit_trust = static_cast<int32_t>(65536 - std::min<int64_t>(kShrink * se2 / std::max<int64_t>(dd >> 16, 1), 65536));
	return slope - rounded(kShrink * se2, dev);
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
			// A rate drawn toward the nominal one rests on that as well:
			// the loop changes it the more slowly.
			c->kr = c->k + static_cast<int>(((kGearAfterPhasing - c->k) * int64_t(65536 - c->fit_trust)) >> 16);
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
		// How far the peak lies from the line through the earlier ones:
		// the spread of the peaks' times, which tells how sure the line's
		// slope is.
		if (c->fit_n >= 3) {
			const int64_t r = (t - c->fit_icpt - m * c->fit_slope) >> 4; // Q12
			c->fit_rr += std::min<int64_t>(r * r, int64_t(1) << 40);
			c->fit_r += 1;
		}
		c->fit_n += 1;
		c->fit_m += m;
		c->fit_mm += int64_t(m) * m;
		c->fit_t += t;
		c->fit_mt += m * t;
		const int64_t det = c->fit_n * c->fit_mm - c->fit_m * c->fit_m;
		if (det > 0 && c->fit_n >= 3) {
			slope = shrunk(c, rounded(c->fit_n * c->fit_mt - c->fit_m * c->fit_t, det), det);
			icpt = rounded(c->fit_t - slope * c->fit_m, c->fit_n);
			c->fit_slope = slope;
			c->fit_icpt = icpt;
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
	c->k = c->kr = kStartGear;
	c->fit_trust = 65536;
	c->eye = kEyeStart;
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
	c->eye_on += d < 0 ? -d : d;
	c->eye_mid += mid < 0 ? -mid : mid;
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
		c->x_mean += (x - c->x_mean) / kEyeMemory;
		// Alpha-beta gains of gear k: 2 (2k - 1) / (k (k + 1)) for the phase,
		// 6 / (k (k + 1)) for the rate (per bit: over the 7 of a character).
		const int64_t kk = int64_t(c->k) * (c->k + 1), kkr = int64_t(c->kr) * (c->kr + 1);
		c->tau -= rounded(2 * (2 * c->k - 1) * x, kk);
		c->rate = std::clamp(c->rate - rounded(6 * (x << 8), kkr * 7), kMinPeriodQ << 8, kMaxPeriodQ << 8);
		c->period = (c->rate + 128) >> 8;
		if (c->k < kMaxGear)
			c->k += 1;
		if (c->kr < kMaxGear)
			c->kr += 1;
		// Half a bit off, the timing detector sits where it tells
		// nothing, and a rate left wrong by a noisy phasing keeps the
		// clock there: the evidence half a bit before the decisions is
		// then plainer than at them.  Once it has been for a while, the
		// clock moves there and the loop widens to pull its rate anew.
		// Back when the detector has lately found the clock late, else
		// on: the other way would read a bit twice or lose one.
		const int64_t sum = c->eye_on + c->eye_mid;
		if (sum > 0) {
			const int64_t v = ((c->eye_mid - c->eye_on) << 16) / sum;
			c->eye += static_cast<int32_t>((v - c->eye) / kEyeMemory);
			if (c->eye > kEyeSlip) {
				c->tau += c->x_mean > 0 ? -per / 2 : per / 2;
				c->k = std::min(c->k, kGearAfterSlip);
				c->kr = std::min(c->kr, kGearAfterSlip);
				c->eye = kEyeStart;
			}
		}
	}
	c->eye_on = c->eye_mid = 0;
	c->g_sum = c->g_count = 0;
}
