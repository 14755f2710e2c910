// Enhanced chain, character alignment: see enh_align.h.
#include "enh_align.h"

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

} // namespace

void enh_align_start(enh_align *a)
{
	std::memset(a, 0, sizeof *a);
	a->bmod = 1; // the lock's peak ends the pattern: position 0
}

void enh_align_phasing_ended(enh_align *a, int64_t bits)
{
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
	return 1;
}
