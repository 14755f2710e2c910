// Enhanced chain, character alignment: see enh_align.h.
#include "enh_align.h"

#include <algorithm>
#include <cstring>

#include "enh_acq.h"

namespace {

// Mean 28-bit phasing match a new character alignment needs (0.45).
constexpr int kSyncNum = 9, kSyncDen = 20;
// Repetitions must match their first copies this well (0.4 of the energy
// product; noise alone gives 0), and better than at the current place by
// half a position's worth: after a slip of one bit the windows differ in
// one position at each end.
constexpr int kRepNum = 4, kRepDen = 10;
constexpr int64_t kRepMemory = 32; // periods
// Unaligned: the match a place needs (0.3; a clean repetition gives 0.6 at
// 1 dB, 0.9 at 10 dB), its lead over the other seven positions (0.2), and
// bits before the first look.
constexpr int kTrNum = 3, kTrDen = 10;
constexpr int kTrLeadNum = 1, kTrLeadDen = 5;
constexpr int64_t kTrFirst = 105;

// The repetitions' match at a position, Q10.
int64_t rep_ratio(const enh_align *c, int p)
{
	p = (p + 14) % 14;
	return c->tr_e[p] > 0 ? (c->tr_c[p] << 10) / c->tr_e[p] : 0;
}

// The place where a repetition ends, from the sums since the lock; -1
// while none stands out.
int traffic_place(const enh_align *c)
{
	int64_t all_c = 0, all_e = 0;
	for (int k = 0; k < 14; k++) {
		all_c += c->tr_c[k];
		all_e += c->tr_e[k];
	}
	int best = -1;
	int64_t bc = 0, be = 0;
	for (int b = 0; b < 14; b++) {
		int64_t rc = 0, re = 0;
		for (int k = 0; k < 7; k++) {
			rc += c->tr_c[(b + 14 - k) % 14];
			re += c->tr_e[(b + 14 - k) % 14];
		}
		if (best < 0 || rc > bc) {
			best = b;
			bc = rc;
			be = re;
		}
	}
	const int64_t oc = all_c - bc, oe = all_e - be;
	// bc / be > 3/10 and bc / be - oc / oe > 1/5, on values cut so the
	// products fit.
	if (be <= 0 || oe <= 0 || bc * kTrDen <= be * kTrNum)
		return -1;
	int shift = 0;
	while (std::max({bc < 0 ? -bc : bc, be, oc < 0 ? -oc : oc, oe}) >> shift >= (int64_t(1) << 30))
		shift++;
	const int64_t x = bc >> shift, xe = be >> shift, y = oc >> shift, ye = oe >> shift;
	if (xe <= 0 || ye <= 0 || (x * ye - y * xe) * kTrLeadDen <= xe * ye * kTrLeadNum)
		return -1;
	// A window one bit off shares six positions: each end of the repetition
	// must match, and the position beyond it clearly less.
	const int64_t need = 1024 * kTrNum / kTrDen, lead = 1024 * kTrLeadNum / kTrLeadDen;
	const int64_t last = rep_ratio(c, best), first = rep_ratio(c, best - 6);
	if (last <= need || first <= need || rep_ratio(c, best + 1) > last - lead ||
	    rep_ratio(c, best - 7) > first - lead)
		return -1;
	// The characters' bits as well: the groups ending there are the ones
	// that best have four 1 bits.
	int fit = 0;
	for (int k = 1; k < 7; k++)
		if (c->cr[k] > c->cr[fit])
			fit = k;
	return best % 7 == fit ? best : -1;
}

// How well the last seven bits form a character of four 1 bits: the four
// largest d for its 1 bits, the three smallest for its 0 bits, over the
// energy (Q10).
int64_t constant_ratio(const enh_align *c)
{
	int32_t v[7];
	int64_t e = 0;
	for (int k = 0; k < 7; k++) {
		const int p = (c->bit_pos - 1 - k) & 63;
		v[k] = c->bit_d[p];
		e += c->bit_e[p];
	}
	std::sort(v, v + 7);
	const int64_t fit = int64_t(v[6]) + v[5] + v[4] + v[3] - v[2] - v[1] - v[0];
	return e > 0 ? (fit << 10) / e : 0;
}

} // namespace

void enh_align_start(enh_align *a, bool traffic)
{
	std::memset(a, 0, sizeof *a);
	a->bmod = 1; // the lock's peak ends the pattern: position 0
	a->aligned = !traffic;
	a->on_text = traffic;
	a->pending = -1;
}

void enh_align_phasing_ended(enh_align *a, int64_t bits)
{
	std::memset(a->sync_c, 0, sizeof a->sync_c);
	std::memset(a->sync_e, 0, sizeof a->sync_e);
	std::memset(a->rep_c, 0, sizeof a->rep_c);
	std::memset(a->rep_e, 0, sizeof a->rep_e);
	a->rep_from = bits;
}

int enh_align_bit(enh_align *c, int32_t d, int32_t e, bool phasing, int64_t bits)
{
	c->bit_d[c->bit_pos] = d;
	c->bit_e[c->bit_pos] = e;
	c->bit_pos = (c->bit_pos + 1) & 63;
	c->grp_d[c->bitcnt] = d;
	c->grp_e[c->bitcnt] = e;

	// Per bit position within the 14-bit period, a running mean of how
	// well the last two periods match the phasing pattern ending there.  A
	// position whose match is good and better than the current one's takes
	// over; a single chance match (as where phasing turns into text) does
	// not.
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
	c->bits++;
	if (!c->aligned) {
		if (c->bits > 35) {
			const int p0 = (c->bit_pos - 1) & 63, p1 = (c->bit_pos - 36) & 63;
			c->tr_c[b] += int64_t(c->bit_d[p0] >> 6) * (c->bit_d[p1] >> 6);
			c->tr_e[b] += int64_t(c->bit_e[p0] >> 6) * (c->bit_e[p1] >> 6);
		}
		if (c->bits >= 7)
			c->cr[b % 7] += constant_ratio(c);
		if (c->pending < 0 && c->bits >= kTrFirst && c->bits % 7 == 0)
			c->pending = traffic_place(c);
		if (b == c->pending) {
			c->aligned = 1;
			c->align_mod = b;
			c->bitcnt = 0;
			c->bytcnt = 0;
			return 0;
		}
	}
	const int a = c->align_mod;
	bool rep_better = false;
	if (!phasing && b != a && bits - c->rep_from > 28 * kRepMemory) {
		int64_t rb = 0, ra = 0, eb = 0;
		for (int k = 0; k < 7; k++) {
			rb += c->rep_c[(b + 14 - k) % 14];
			eb += c->rep_e[(b + 14 - k) % 14];
			ra += c->rep_c[(a + 14 - k) % 14];
		}
		rep_better = rb * kRepDen > eb * kRepNum && (rb - ra) * 14 > eb;
	}
	// Unaligned, only phasing itself (0.7, where text by chance stays far
	// below) aligns on the pattern.
	// Phasing heard plainly where the loop does not follow it (a lock on
	// text, or three seconds after its own phasing ended: in a fade the
	// loop may miss the peaks of a phasing that goes on).
	c->heard = !phasing && bits - c->rep_from >= (c->on_text ? 56 : 280) && c->sync_c[b] * 10 > c->sync_e[b] * 7;
	const bool sync_better = c->aligned && b != a && c->sync_c[b] * kSyncDen > c->sync_e[b] * kSyncNum &&
				 (c->sync_c[b] >> 8) * (c->sync_e[a] >> 8) > (c->sync_c[a] >> 8) * (c->sync_e[b] >> 8);
	if (rep_better || sync_better) {
		c->aligned = 1;
		c->align_mod = b;
		c->bitcnt = 0;
		c->bytcnt = 0;
		return 0;
	}
	if (++c->bitcnt < 7)
		return 0;
	c->bitcnt = 0;
	if (!c->aligned)
		return 2; // seven bits for the loops, no character
	c->bytcnt++;
	return 1;
}
