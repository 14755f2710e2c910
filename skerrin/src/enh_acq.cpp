// Enhanced chain, acquisition: see enh_acq.h.
#include "enh_acq.h"

#include <cstring>

constexpr int enh_phasing[14] = {0, 1, 1, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0};

namespace {

constexpr int kMask = ENH_RING - 1;
constexpr int kSearch = 240; // samples searched for the best peak: a period
// Normalised correlation that starts a peak search: noise alone gives
// about 0.11 (one standard deviation), a clean signal at 0 dB about 0.7.
constexpr int kAcqNum = 1, kAcqDen = 2;
// A candidate's first-copy halves must match at least this well (0.3).
constexpr int kHalfNum = 3, kHalfDen = 10;
// Below this mean energy per bit (a tone of about 15 sample units) the
// correlation is made of rounding residue, not signal.
constexpr int64_t kMinEnergy = 64;

// Tap k lies k bits before the newest, which ends the pattern's last bit.
struct taps {
	int off[ENH_TAPS];
	int32_t sign[ENH_TAPS];
	constexpr taps() : off(), sign()
	{
		for (int k = 0; k < ENH_TAPS; k++) {
			off[k] = (k * 1704 + 50) / 100; // k * ENH_ACQ_PERIOD, rounded
			sign[k] = enh_phasing[13 - k % 14] ? 1 : -1;
		}
	}
};

constexpr taps kTaps;

} // namespace

bool enh_acq_corr(const enh_pair &p, int64_t n, int64_t *cs_out, int64_t *es_out, bool gate, bool *c_half)
{
	const int idx = static_cast<int>(n & kMask);
	int64_t cs = 0, es = 0, ch = 0, eh = 0;
	// Period by period, newest first; in each the repetition half (taps
	// 0..6 of the period) comes before the first-copy half (7..13).  The
	// idle signal alpha repeated matches the repetition half and a little
	// of the whole, but not the first-copy halves.
	for (int per = 0; per < ENH_TAPS / 14; per++) {
		if (per == 1 && gate && (cs + ch) * 10 <= (es + eh) * 3)
			return false; // noise passes 0.3 on one period one time in twelve
		for (int k = 14 * per; k < 14 * per + 7; k++) {
			const int q = (idx - kTaps.off[k]) & kMask;
			cs += kTaps.sign[k] * p.d[q];
			es += p.e[q];
		}
		for (int k = 14 * per + 7; k < 14 * per + 14; k++) {
			const int q = (idx - kTaps.off[k]) & kMask;
			ch += kTaps.sign[k] * p.d[q];
			eh += p.e[q];
		}
	}
	*cs_out = cs + ch;
	*es_out = es + eh;
	if (c_half)
		*c_half = ch * kHalfDen > eh * kHalfNum;
	return true;
}

double enh_acq_level(const enh_pair &p, int64_t n)
{
	// The last period only: the earlier taps may still be before the
	// signal's start.
	int64_t absd = 0;
	for (int k = 0; k < 14; k++) {
		const int32_t v = p.d[(n - kTaps.off[k]) & kMask];
		absd += v < 0 ? -int64_t(v) : v;
	}
	return static_cast<double>(absd) / 14;
}

void enh_acq_reset(enh_acq *a)
{
	std::memset(a, 0, sizeof *a);
}

int enh_acq_step(enh_acq *a, const enh_pair pairs[ENH_HYP], int64_t n)
{
	if (++a->fill < 720 + ENH_WIN || (n & 1))
		return 0;
	for (int h = 0; h < ENH_HYP; h++) {
		int64_t cs, es;
		bool c_half = false;
		if (!enh_acq_corr(pairs[h], n, &cs, &es, true, &c_half))
			continue;
		if (cs * kAcqDen <= es * kAcqNum || es < ENH_TAPS * kMinEnergy || !c_half)
			continue;
		// A pair listening 85 Hz beside the signal can see a pattern in
		// its skirts (the idle signal after a transmission does that);
		// the signal's energy shows which pair is on it.
		bool beside = false;
		for (int o = 0; o < ENH_HYP && !beside; o++) {
			int64_t co, eo;
			if (o != h && enh_acq_corr(pairs[o], n, &co, &eo) && eo > 2 * es)
				beside = true;
		}
		if (beside)
			continue;
		// Best normalised correlation: cs/es above best_c/best_e, compared
		// crosswise on values cut to 28 bits so the products fit 64.
		if (!a->searching) {
			a->searching = 1;
			a->search_left = kSearch;
			a->best_c = cs;
			a->best_e = es;
			a->best_h = h;
			a->best_n = n;
		} else if ((cs >> 8) * (a->best_e >> 8) > (a->best_c >> 8) * (es >> 8)) {
			a->best_c = cs;
			a->best_e = es;
			a->best_h = h;
			a->best_n = n;
		}
	}
	if (a->searching && (a->search_left -= 2) <= 0) {
		a->searching = 0;
		return 1;
	}
	return 0;
}
