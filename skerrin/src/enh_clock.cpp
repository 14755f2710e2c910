// Enhanced chain, bit clock: see enh_clock.h.
#include "enh_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

constexpr int enh_phasing[14] = {0, 1, 1, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0};

namespace {

constexpr int kMask = ENH_RING - 1;
constexpr int kTaps = 42;             // three phasing periods
constexpr double kAcqPeriod = 17.04;  // samples per bit assumed while acquiring
constexpr int kSearch = 240;          // samples searched for the best peak: a period
// Normalised correlation that starts a peak search: noise alone gives
// about 0.11 (one standard deviation), a clean signal at 0 dB about 0.7.
constexpr int kAcqNum = 1, kAcqDen = 2;
// A candidate's first-copy halves must match at least this well (0.3).
constexpr int kHalfNum = 3, kHalfDen = 10;
// Mean 28-bit phasing match a new character alignment needs (0.45).
constexpr int kSyncNum = 9, kSyncDen = 20;
// Repetitions must match their first copies this well (0.4 of the energy
// product; noise alone gives 0), and better than at the current place by
// half a position's worth: after a slip of one bit the windows differ in
// one position at each end.
constexpr int kRepNum = 4, kRepDen = 10;
constexpr int64_t kRepMemory = 32; // periods
// Below this mean energy per bit (a tone of about 15 sample units) the
// correlation is made of rounding residue, not signal.
constexpr int64_t kMinEnergy = 64;
constexpr double kMinPeriod = 16.88, kMaxPeriod = 17.2;
constexpr double kMaxGear = 300;  // characters of memory of the timing loop
constexpr double kStartGear = 12;
constexpr double kMaxAfcGear = 32;
constexpr int kPeakWindow = 14;     // samples either side of a due peak
constexpr int kPeakNum = 7, kPeakDen = 20; // a due peak counts above 0.35
constexpr double kGearAfterPhasing = 150;
constexpr double kQualityLost = 0.53; // noise alone gives 0.5
constexpr int kQualityMemory = 64;

// Tap k lies k bits before the newest, which ends the pattern's last bit.
struct taps {
	int off[kTaps];
	int32_t sign[kTaps];
	constexpr taps() : off(), sign()
	{
		for (int k = 0; k < kTaps; k++) {
			off[k] = (k * 1704 + 50) / 100; // k * kAcqPeriod, rounded
			sign[k] = enh_phasing[13 - k % 14] ? 1 : -1;
		}
	}
};

constexpr taps kAcqTaps;

const taps &acq_taps()
{
	return kAcqTaps;
}

constexpr int64_t q16(double v)
{
	return static_cast<int64_t>(v * 65536.0 + (v >= 0 ? 0.5 : -0.5));
}

// Value of a per-sample ring at a Q16 sample time.
int64_t interp(const int32_t *ring, int64_t t)
{
	const int64_t i = t >> 16;
	const int64_t f = t & 0xffff;
	const int64_t a = ring[i & kMask], b = ring[(i + 1) & kMask];
	return a + (((b - a) * f) >> 16);
}

void set_pair(enh_hyp &hy, double hz)
{
	enh_tone_set(&hy.mark, hz + 85.0);
	enh_tone_set(&hy.space, hz - 85.0);
}

void lock(enh_clock *c)
{
	c->locked = 1;
	c->h = c->best_h;
	c->searching = 0;
	enh_hyp &hy = c->hyp[c->h];
	c->period = q16(kAcqPeriod);
	c->tau = (c->best_n << 16) + c->period;
	c->prev_d = hy.d[c->best_n & kMask];
	c->g_sum = c->g_count = 0;
	c->f_re = c->f_im = 0;
	std::memset(c->bit_d, 0, sizeof c->bit_d);
	std::memset(c->bit_e, 0, sizeof c->bit_e);
	c->bit_pos = 0;
	std::memset(c->rep_c, 0, sizeof c->rep_c);
	std::memset(c->rep_e, 0, sizeof c->rep_e);
	std::memset(c->sync_c, 0, sizeof c->sync_c);
	std::memset(c->sync_e, 0, sizeof c->sync_e);
	c->bmod = 1; // the lock's peak ends the pattern: position 0
	c->align_mod = 0;
	c->bitcnt = 0;
	c->bytcnt = 0;
	c->k = kStartGear;
	c->kf = 3;
	c->afc_hz = hy.hz;
	// The level of the last phasing period (the earlier taps may still be
	// before the signal's start).
	const taps &t = acq_taps();
	int64_t absd = 0;
	for (int k = 0; k < 14; k++) {
		const int32_t v = hy.d[(c->best_n - t.off[k]) & kMask];
		absd += v < 0 ? -int64_t(v) : v;
	}
	c->level = static_cast<double>(absd) / 14;
	c->quality = 0.7;
	c->chars = 0;

	c->phasing = 1;
	c->misses = 0;
	c->origin = c->best_n;
	c->bits = 0;
	c->peaks = 1;
	c->expect = c->best_n + static_cast<int64_t>(14 * kAcqPeriod + 0.5);
	c->win_left = -1;
	c->fit_n = 1; // the lock's own peak: m = 0, t = 0
	c->fit_m = c->fit_mm = c->fit_t = c->fit_mt = 0;
}

// Normalised 42-bit phasing correlation of pair `hy` ending at sample n.
// With `gate`, gives up (false) after the newest period when that alone
// matches too poorly for the whole to pass: listening costs a third.
// `c_half` tells whether the first-copy halves (phasing signal 1) match
// too: the idle signal alpha repeated matches the other half and a little
// of the whole, but not these.
bool acq_corr(const enh_hyp &hy, int64_t n, int64_t *cs_out, int64_t *es_out, bool gate = false,
	      bool *c_half = nullptr)
{
	const taps &t = acq_taps();
	const int idx = static_cast<int>(n & kMask);
	int64_t cs = 0, es = 0, ch = 0, eh = 0;
	// Period by period, newest first; in each the repetition half (taps
	// 0..6 of the period) comes before the first-copy half (7..13).
	for (int per = 0; per < kTaps / 14; per++) {
		if (per == 1 && gate && (cs + ch) * 10 <= (es + eh) * 3)
			return false; // noise passes 0.3 on one period one time in twelve
		for (int k = 14 * per; k < 14 * per + 7; k++) {
			const int p = (idx - t.off[k]) & kMask;
			cs += t.sign[k] * hy.d[p];
			es += hy.e[p];
		}
		for (int k = 14 * per + 7; k < 14 * per + 14; k++) {
			const int p = (idx - t.off[k]) & kMask;
			ch += t.sign[k] * hy.d[p];
			eh += hy.e[p];
		}
	}
	*cs_out = cs + ch;
	*es_out = es + eh;
	if (c_half)
		*c_half = ch * kHalfDen > eh * kHalfNum;
	return true;
}

// The phasing peak due in this window: found, it refines the line through
// the peaks and re-anchors the clock on it; missed twice, the phasing has
// ended and the loop alone keeps the clock.
void phasing_peak(enh_clock *c)
{
	const int w = 2 * kPeakWindow + 1;
	int best = 0;
	for (int i = 1; i < w; i++)
		if (c->win_c[i] > c->win_c[best])
			best = i;
	const int m = c->peaks++;
	const double per = c->period / 65536.0;
	// Once the line is fitted a peak far from its due place is the message
	// beginning, not phasing.
	const bool far = false;
	if (best == 0 || best == w - 1 || far || c->win_c[best] * kPeakDen <= c->win_e[best] * kPeakNum) {
		// The first periods' peaks may still be dragged by the window
		// reaching back before the signal: the phasing has ended only
		// after a few found and then two missed.
		if (++c->misses >= (c->fit_n >= 4 ? 2 : 4)) {
			// A short phasing leaves the rate unsure: the loop starts wide.
			c->phasing = 0;
			c->k = c->fit_n >= 8 ? kGearAfterPhasing : kStartGear;
			// The repetitions' match starts with the message.
			std::memset(c->rep_c, 0, sizeof c->rep_c);
			std::memset(c->rep_e, 0, sizeof c->rep_e);
			c->rep_from = c->bits;
		}
		c->expect += static_cast<int64_t>(14 * per + 0.5);
		return;
	}
	c->misses = 0;
	const double a = static_cast<double>(c->win_c[best - 1]), b = static_cast<double>(c->win_c[best]),
		     cc = static_cast<double>(c->win_c[best + 1]);
	const double den = a - 2 * b + cc;
	const double frac = den < 0 ? std::clamp(0.5 * (a - cc) / den, -0.5, 0.5) : 0.0;
	const double t = static_cast<double>(c->expect - kPeakWindow + best - c->origin) + frac;
	double slope = 14 * per, icpt = t - m * slope;
	{
		c->fit_n += 1;
		c->fit_m += m;
		c->fit_mm += double(m) * m;
		c->fit_t += t;
		c->fit_mt += m * t;
		const double det = c->fit_n * c->fit_mm - c->fit_m * c->fit_m;
		if (det > 0 && c->fit_n >= 3) {
			slope = (c->fit_n * c->fit_mt - c->fit_m * c->fit_t) / det;
			icpt = (c->fit_t - slope * c->fit_m) / c->fit_n;
		}
	}
	const double np = std::clamp(slope / 14, kMinPeriod, kMaxPeriod);
	// Taps spaced for the acquisition period put the peak where the
	// pattern's middle fits; the last bit's end lies off by the spacing
	// error over the 20.5 bits from the middle.
	const double end = icpt + m * 14 * np - 20.5 * (kAcqPeriod - np);
	const double next = end + static_cast<double>(c->bits + 1 - 14 * static_cast<int64_t>(m)) * np;
	const int64_t tau = (c->origin << 16) + q16(next);
	if (std::llabs(tau - c->tau) < c->period / 2)
		c->tau = tau;
	c->period = q16(np);
	c->expect = c->origin + static_cast<int64_t>(end + 14 * np + 0.5);
}

// Once a character: timing loop, AFC, quality.
void character_done(enh_clock *c, double absd, double esum)
{
	c->chars++;
	// In a fade the detectors give noise: the loops hold still.
	const bool faded = absd / 7 < 0.5 * c->level;
	c->level += (absd / 7 - c->level) / 16;
	if (esum > 0)
		c->quality += (absd / esum - c->quality) / kQualityMemory;

	const double per = c->period / 65536.0;
	if (!c->phasing && !faded && c->g_count > 0 && c->level > 0) {
		// Offset of the clock from the bit boundaries, in samples;
		// positive when the clock is late.
		double x = static_cast<double>(c->g_sum) / c->g_count * per / (2 * c->level);
		x = std::clamp(x, -per / 2, per / 2);
		const double k = c->k;
		const double alpha = 2 * (2 * k - 1) / (k * (k + 1));
		const double beta = 6 / (k * (k + 1));
		c->tau -= q16(alpha * x);
		const double np = std::clamp(per - beta * x / 7, kMinPeriod, kMaxPeriod);
		c->period = q16(np);
		if (c->k < kMaxGear)
			c->k += 1;
	}
	c->g_sum = c->g_count = 0;

	if (!faded && (c->f_re != 0 || c->f_im != 0)) {
		const double turn = std::atan2(static_cast<double>(c->f_im), static_cast<double>(c->f_re));
		const double hz = turn * ENH_RATE / (2 * M_PI * 8);
		c->afc_hz = std::clamp(c->afc_hz + std::clamp(hz / c->kf, -10.0, 10.0), -130.0, 130.0);
		if (c->kf < kMaxAfcGear)
			c->kf += 1;
		set_pair(c->hyp[c->h], c->afc_hz);
	}
	c->f_re = c->f_im = 0;
}

// One bit at the decision instant tau; returns 1 when a group is complete.
int bit(enh_clock *c)
{
	enh_hyp &hy = c->hyp[c->h];
	const int64_t d = interp(hy.d, c->tau);
	const int64_t e = interp(hy.e, c->tau);
	const int64_t mid = interp(hy.d, c->tau - c->period / 2);
	const bool one = d > 0, prev_one = c->prev_d > 0;

	if (one != prev_one) {
		c->g_sum += one ? mid : -mid;
		c->g_count++;
	} else {
		// The stronger tone's sum turns by the carrier error over 8
		// samples; only within a run of equal bits is that clean.
		const int i = static_cast<int>((c->tau + 0x8000) >> 16) & (ENH_HIST - 1);
		const int j = (i - 8) & (ENH_HIST - 1);
		const int32_t *re = one ? c->mark_re : c->space_re;
		const int32_t *im = one ? c->mark_im : c->space_im;
		c->f_re += (int64_t(re[i]) * re[j] + int64_t(im[i]) * im[j]) >> 8;
		c->f_im += (int64_t(im[i]) * re[j] - int64_t(re[i]) * im[j]) >> 8;
	}
	c->prev_d = static_cast<int32_t>(d);
	c->tau += c->period;
	c->bits++;

	c->bit_d[c->bit_pos] = static_cast<int32_t>(d);
	c->bit_e[c->bit_pos] = static_cast<int32_t>(e);
	c->bit_pos = (c->bit_pos + 1) & 63;
	c->grp_d[c->bitcnt] = static_cast<int32_t>(d);
	c->grp_e[c->bitcnt] = static_cast<int32_t>(e);

	// Character alignment: per bit position within the 14-bit period, a
	// running mean of how well the last two periods match the phasing
	// pattern ending there.  A position whose match is good and better
	// than the current one's takes over; a single chance match (as where
	// phasing turns into text) does not.
	int64_t cs = 0, es = 0;
	for (int k = 0; k < 28; k++) {
		const int p = (c->bit_pos - 1 - k) & 63;
		cs += enh_phasing[13 - k % 14] ? c->bit_d[p] : -c->bit_d[p];
		es += c->bit_e[p];
	}
	const int b = c->bmod;
	c->bmod = b == 13 ? 0 : b + 1;
	c->sync_c[b] += (cs - c->sync_c[b]) / 4;
	c->sync_e[b] += (es - c->sync_e[b]) / 4;
	// Within a message each repetition repeats the first copy sent 35 bits
	// before: the seven positions where bits match those 35 earlier best
	// end a repetition.  Values cut to 23 bits so the products fit.
	{
		const int p0 = (c->bit_pos - 1) & 63, p1 = (c->bit_pos - 36) & 63;
		const int64_t q = int64_t(c->bit_d[p0] >> 6) * (c->bit_d[p1] >> 6);
		const int64_t qe = int64_t(c->bit_e[p0] >> 6) * (c->bit_e[p1] >> 6);
		c->rep_c[b] += (q - c->rep_c[b]) / kRepMemory;
		c->rep_e[b] += (qe - c->rep_e[b]) / kRepMemory;
	}
	const int a = c->align_mod;
	bool rep_better = false;
	if (!c->phasing && b != a && c->bits - c->rep_from > 28 * kRepMemory) {
		int64_t rb = 0, ra = 0, eb = 0;
		for (int k = 0; k < 7; k++) {
			rb += c->rep_c[(b + 14 - k) % 14];
			eb += c->rep_e[(b + 14 - k) % 14];
			ra += c->rep_c[(a + 14 - k) % 14];
		}
		rep_better = rb * kRepDen > eb * kRepNum && (rb - ra) * 14 > eb;
	}
	if (rep_better || (b != a && c->sync_c[b] * kSyncDen > c->sync_e[b] * kSyncNum &&
	    (c->sync_c[b] >> 8) * (c->sync_e[a] >> 8) > (c->sync_c[a] >> 8) * (c->sync_e[b] >> 8))) {
		c->align_mod = b;
		c->bitcnt = 0;
		c->bytcnt = 0;
		return 0;
	}
	if (++c->bitcnt < 7)
		return 0;
	c->bitcnt = 0;
	c->bytcnt++;
	int64_t absd = 0, esum = 0;
	for (int k = 0; k < 7; k++) {
		absd += c->grp_d[k] < 0 ? -int64_t(c->grp_d[k]) : c->grp_d[k];
		esum += c->grp_e[k];
	}
	character_done(c, static_cast<double>(absd), static_cast<double>(esum));
	return 1;
}

} // namespace

void enh_clock_init(enh_clock *c)
{
	std::memset(c, 0, sizeof *c);
	const double hz[ENH_HYP] = {-85.0, 0.0, 85.0};
	for (int h = 0; h < ENH_HYP; h++) {
		c->hyp[h].hz = hz[h];
		set_pair(c->hyp[h], hz[h]);
	}
}

void enh_clock_unlock(enh_clock *c)
{
	c->locked = 0;
	c->searching = 0;
	c->fill = 0;
	enh_hyp &hy = c->hyp[c->h];
	set_pair(hy, hy.hz);
}

int enh_clock_step(enh_clock *c, int xr, int xi)
{
	const int16_t *sine = enh_sine_table();
	const int64_t n = c->n++;
	const int idx = static_cast<int>(n & kMask);
	const int pos = c->pos;
	if (++c->pos == ENH_WIN)
		c->pos = 0;

	if (c->locked) {
		enh_hyp &hy = c->hyp[c->h];
		enh_tone_step(&hy.mark, sine, xr, xi, pos);
		enh_tone_step(&hy.space, sine, xr, xi, pos);
		const int32_t em = enh_tone_energy(&hy.mark), es = enh_tone_energy(&hy.space);
		hy.d[idx] = em - es;
		hy.e[idx] = em + es;
		const int hi = static_cast<int>(n & (ENH_HIST - 1));
		c->mark_re[hi] = hy.mark.acc_re;
		c->mark_im[hi] = hy.mark.acc_im;
		c->space_re[hi] = hy.space.acc_re;
		c->space_im[hi] = hy.space.acc_im;
		if (c->phasing) {
			if (c->win_left <= 0 && n >= c->expect - kPeakWindow) {
				c->expect = n + kPeakWindow;
				c->win_left = 2 * kPeakWindow + 1;
			}
			if (c->win_left > 0) {
				const int i = 2 * kPeakWindow + 1 - c->win_left;
				acq_corr(hy, n, &c->win_c[i], &c->win_e[i]);
				if (--c->win_left == 0)
					phasing_peak(c);
			}
		}
		int r = 0;
		// A bit is read once the sample after its instant is in.
		while ((c->tau >> 16) + 1 <= n) {
			if (bit(c))
				r = 1;
			if (c->chars > kQualityMemory && c->quality < kQualityLost) {
				enh_clock_unlock(c);
				return -1;
			}
		}
		return r;
	}

	for (int h = 0; h < ENH_HYP; h++) {
		enh_hyp &hy = c->hyp[h];
		enh_tone_step(&hy.mark, sine, xr, xi, pos);
		enh_tone_step(&hy.space, sine, xr, xi, pos);
		const int32_t em = enh_tone_energy(&hy.mark), es = enh_tone_energy(&hy.space);
		hy.d[idx] = em - es;
		hy.e[idx] = em + es;
	}
	if (++c->fill < 720 + ENH_WIN || (n & 1))
		return 0;

	for (int h = 0; h < ENH_HYP; h++) {
		int64_t cs, es;
		bool c_half = false;
		if (!acq_corr(c->hyp[h], n, &cs, &es, true, &c_half))
			continue;
		if (cs * kAcqDen <= es * kAcqNum || es < kTaps * kMinEnergy || !c_half)
			continue;
		// A pair listening 85 Hz beside the signal can see a pattern in
		// its skirts (the idle signal after a transmission does that);
		// the signal's energy shows which pair is on it.
		bool beside = false;
		for (int o = 0; o < ENH_HYP && !beside; o++) {
			int64_t co, eo;
			if (o != h && acq_corr(c->hyp[o], n, &co, &eo) && eo > 2 * es)
				beside = true;
		}
		if (beside)
			continue;
		// Best normalised correlation: cs/es above best_c/best_e, compared
		// crosswise on values cut to 28 bits so the products fit 64.
		if (!c->searching) {
			c->searching = 1;
			c->search_left = kSearch;
			c->best_c = cs;
			c->best_e = es;
			c->best_h = h;
			c->best_n = n;
		} else if ((cs >> 8) * (c->best_e >> 8) > (c->best_c >> 8) * (es >> 8)) {
			c->best_c = cs;
			c->best_e = es;
			c->best_h = h;
			c->best_n = n;
		}
	}
	if (c->searching && (c->search_left -= 2) <= 0) {
		lock(c);
		// Bits whose instants have passed during the search are read now;
		// they are the first two of a group, so none completes.
		while ((c->tau >> 16) + 1 <= n)
			bit(c);
		return 2;
	}
	return 0;
}
