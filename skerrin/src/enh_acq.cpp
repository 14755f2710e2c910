// Enhanced chain, acquisition: see enh_acq.h.
#include "enh_acq.h"

#include <algorithm>
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
// Phasing candidates: both tones must carry the pattern this well (0.3 of
// the contrast; a tone listened at beside the signal gives about 0).
constexpr int32_t kLockContrast = 65536 * 3 / 10;

// Traffic: bits read, samples between searches, and what a lock needs:
// an open eye (0.72), both tones (0.72), and little repetition at 7 and 14
// bits (below 0.5 of the energy).
constexpr int kTrafficBits = 56;
constexpr int kTrafficEvery = 128;
constexpr int kEyeNum = 18, kEyeDen = 25;
constexpr int32_t kTrafficContrast = 65536 * 18 / 25;
constexpr int kRepeatNum = 1, kRepeatDen = 2;

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

// Bit k of the traffic window lies k bits before the newest.
struct traffic_taps {
	int off[kTrafficBits];
	constexpr traffic_taps() : off()
	{
		for (int k = 0; k < kTrafficBits; k++)
			off[k] = (k * 1704 + 50) / 100;
	}
};

constexpr traffic_taps kTrafficTaps;

int64_t abs64(int64_t v)
{
	return v < 0 ? -v : v;
}

// Match of the bits with those `lag` bits earlier, against its most.
bool repeats(const int32_t *d, int count, int lag)
{
	int64_t m = 0, most = 0;
	for (int k = 0; k + lag < count; k++) {
		const int64_t q = int64_t(d[k] >> 8) * (d[k + lag] >> 8);
		m += q;
		most += abs64(q);
	}
	return m * kRepeatDen > most * kRepeatNum;
}

// Text on pair p with its bits ending at sample `end`: the eye (sum |d|
// against sum e) is already known open; tones and repetition decide.
bool text_at(const enh_pair &p, int64_t end)
{
	int32_t d[kTrafficBits], e[kTrafficBits];
	bool ones[kTrafficBits];
	for (int k = 0; k < kTrafficBits; k++) {
		const int q = static_cast<int>((end - kTrafficTaps.off[k]) & kMask);
		d[k] = p.d[q];
		e[k] = p.e[q];
		ones[k] = d[k] > 0;
	}
	return enh_tone_contrast(d, e, ones, kTrafficBits) >= kTrafficContrast && !repeats(d, kTrafficBits, 7) &&
	       !repeats(d, kTrafficBits, 14);
}

// Both tones carry the phasing pattern ending at sample n, and it is not
// the idle signal, which matches the pattern by two fifths at one place in
// seven bits but, unlike phasing, repeats every seven bits.
bool phasing_at(const enh_pair &p, int64_t n)
{
	int32_t d[ENH_TAPS], e[ENH_TAPS];
	bool ones[ENH_TAPS];
	for (int k = 0; k < ENH_TAPS; k++) {
		const int q = static_cast<int>((n - kTaps.off[k]) & kMask);
		d[k] = p.d[q];
		e[k] = p.e[q];
		ones[k] = kTaps.sign[k] > 0;
	}
	return enh_tone_contrast(d, e, ones, ENH_TAPS) >= kLockContrast && !repeats(d, ENH_TAPS, 7);
}

// Every kTrafficEvery samples: the best pair and phase for text, or none.
int traffic(enh_acq *a, const enh_pair pairs[ENH_HYP], int64_t n)
{
	int best_h = -1, best_ph = 0;
	int64_t bc = 0, be = 1, energy[ENH_HYP];
	for (int h = 0; h < ENH_HYP; h++) {
		energy[h] = 0;
		for (int ph = 0; ph < ENH_WIN; ph++) {
			int64_t cs = 0, es = 0;
			for (int k = 0; k < kTrafficBits; k++) {
				const int q = static_cast<int>((n - ph - kTrafficTaps.off[k]) & kMask);
				cs += abs64(pairs[h].d[q]);
				es += pairs[h].e[q];
			}
			energy[h] = std::max(energy[h], es);
			if (es >= kTrafficBits * kMinEnergy && (best_h < 0 || (cs >> 8) * (be >> 8) > (bc >> 8) * (es >> 8))) {
				bc = cs;
				be = es;
				best_h = h;
				best_ph = ph;
			}
		}
	}
	if (best_h < 0 || bc * kEyeDen <= be * kEyeNum)
		return 0;
	for (int o = 0; o < ENH_HYP; o++)
		if (o != best_h && energy[o] > 2 * be)
			return 0; // beside the signal
	if (!text_at(pairs[best_h], n - best_ph))
		return 0;
	a->best_h = best_h;
	a->best_n = n - best_ph;
	a->traffic = 1;
	return 1;
}

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

int64_t enh_acq_level(const enh_pair &p, int64_t n)
{
	// The last period only: the earlier taps may still be before the
	// signal's start.
	int64_t absd = 0;
	for (int k = 0; k < 14; k++) {
		const int32_t v = p.d[(n - kTaps.off[k]) & kMask];
		absd += v < 0 ? -int64_t(v) : v;
	}
	return absd / 14;
}

int32_t enh_tone_contrast(const int32_t *d, const int32_t *e, const bool *ones, int count)
{
	// Mark energy (e + d) / 2, space energy (e - d) / 2; sums of twice
	// those, and how many bits each.
	int64_t m_on = 0, m_off = 0, s_on = 0, s_off = 0;
	int n_on = 0;
	for (int k = 0; k < count; k++) {
		const int64_t m = int64_t(e[k]) + d[k], s = int64_t(e[k]) - d[k];
		if (ones[k]) {
			m_on += m;
			s_off += s;
			n_on++;
		} else {
			m_off += m;
			s_on += s;
		}
	}
	const int n_off = count - n_on;
	if (n_on == 0 || n_off == 0)
		return 0;
	// Means compared crosswise: on / n_on against off / n_off.
	auto contrast = [](int64_t on, int64_t n_on, int64_t off, int64_t n_off) -> int64_t {
		const int64_t a = on * n_off, b = off * n_on;
		if (a + b <= 0)
			return 0;
		return ((a - b) << 16) / (a + b);
	};
	// Values below 2^40 (64 bits of 2^32 at most): the products and the
	// shift fit 64 bits.
	const int64_t cm = contrast(m_on >> 8, n_on, m_off >> 8, n_off);
	const int64_t cs = contrast(s_on >> 8, n_off, s_off >> 8, n_on);
	return static_cast<int32_t>(std::max<int64_t>(std::min(cm, cs), 0));
}

void enh_acq_reset(enh_acq *a)
{
	std::memset(a, 0, sizeof *a);
}

int enh_acq_step(enh_acq *a, const enh_pair pairs[ENH_HYP], int64_t n)
{
	if (++a->fill < 720 + ENH_WIN || (n & 1))
		return 0;
	if (!a->searching && a->fill >= kTrafficBits * 18 && n % kTrafficEvery == 0 && traffic(a, pairs, n))
		return 1;
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
		a->traffic = 0;
		return phasing_at(pairs[a->best_h], a->best_n);
	}
	return 0;
}
