// Enhanced chain, bit clock: see enh_clock.h.
#include "enh_clock.h"

#include <cstring>

namespace {

constexpr int32_t kQualityStart = 65536 * 3 / 4;
constexpr int32_t kQualityLost = 65536 * 2 / 5;
constexpr int kQualityMemory = 32; // characters
// Below this a lock hearing a new phasing gives way to it: a pair beside
// the signal or a wrong frequency gives about 0.5, a good lock at 3 dB 0.75.
constexpr int32_t kQualityDoubt = 65536 * 13 / 20;
// Below this energy a character is silence (a tone of about 15 sample
// units).
constexpr int64_t kMinCharEnergy = 7 * 64;
constexpr int64_t kAlignWithin = 400; // bits

void lock(enh_clock *c)
{
	c->locked = 1;
	c->locked_at = c->n - 1;
	c->h = c->acq.best_h;
	const enh_pair &p = c->hyp[c->h];
	const int64_t peak = c->acq.best_n;
	const bool traffic = c->acq.traffic;
	enh_loop_start(&c->loop, peak, p.d[peak & (ENH_RING - 1)], traffic);
	enh_afc_start(&c->afc, p.listen);
	enh_align_start(&c->align, traffic);
	c->level = enh_acq_level(p, peak);
	c->quality = kQualityStart;
	c->chars = 0;
}

// Once a character: timing loop, AFC, quality.
void character_done(enh_clock *c)
{
	const enh_align &a = c->align;
	int64_t absd = 0, esum = 0;
	bool ones[7];
	for (int k = 0; k < 7; k++) {
		const int32_t v = a.grp_d[k];
		absd += v < 0 ? -int64_t(v) : v;
		esum += a.grp_e[k];
		ones[k] = v > 0;
	}
	c->chars++;
	const int32_t q = esum < kMinCharEnergy ? 0 : enh_tone_contrast(a.grp_d, a.grp_e, ones, 7);
	c->quality += (q - c->quality) / kQualityMemory;
	// In a fade the detectors give noise: the loops hold still.
	const int64_t mean = absd / 7;
	const bool faded = 2 * mean < c->level;
	c->level += (mean - c->level) / 16;
	enh_loop_char(&c->loop, faded, c->level);
	enh_afc_char(&c->afc, faded, &c->hyp[c->h]);
}

// One bit at the decision instant; returns 1 when a group is complete.
int bit(enh_clock *c, int64_t n)
{
	const enh_pair &p = c->hyp[c->h];
	enh_loop &l = c->loop;
	const int64_t d = enh_ring_at(p.d, l.tau);
	const int64_t e = enh_ring_at(p.e, l.tau);
	const int64_t mid = enh_ring_at(p.d, l.tau - l.period / 2);
	const bool one = d > 0;
	// Only within a run of equal bits is the tone's turn clean, and only
	// where the AFC's history holds the bit (not while catching up after
	// the lock).
	const int64_t at = (l.tau + 0x8000) >> 16;
	if (one == (l.prev_d > 0) && at - 8 > c->locked_at && at > n - (ENH_HIST - 4))
		enh_afc_bit(&c->afc, l.tau, one);
	enh_loop_bit(&l, d, mid);
	const int r = enh_align_bit(&c->align, static_cast<int32_t>(d), static_cast<int32_t>(e), l.phasing, l.bits);
	if (r == 0)
		return 0;
	character_done(c);
	return r == 1;
}

} // namespace

void enh_clock_init(enh_clock *c)
{
	std::memset(c, 0, sizeof *c);
	const double hz[ENH_HYP] = {-85.0, 0.0, 85.0};
	for (int h = 0; h < ENH_HYP; h++) {
		c->hyp[h].listen = enh_hz_steps(hz[h]);
		enh_pair_tune(&c->hyp[h], c->hyp[h].listen);
	}
}

void enh_clock_unlock(enh_clock *c)
{
	c->locked = 0;
	enh_acq_reset(&c->acq);
	enh_pair &p = c->hyp[c->h];
	enh_pair_tune(&p, p.listen);
}

int enh_clock_step(enh_clock *c, int xr, int xi)
{
	const int16_t *sine = enh_sine_table();
	const int64_t n = c->n++;
	const int pos = c->pos;
	if (++c->pos == ENH_WIN)
		c->pos = 0;

	if (c->locked) {
		enh_pair &p = c->hyp[c->h];
		enh_pair_step(&p, sine, xr, xi, pos, n);
		enh_afc_sample(&c->afc, p, n);
		if (enh_loop_sample(&c->loop, p, n)) {
			if (c->loop.fit_n < 2) {
				// Not one peak after the lock's own: that was no phasing
				// (text or the idle signal matching by chance).
				enh_clock_unlock(c);
				return -1;
			}
			enh_align_phasing_ended(&c->align, c->loop.bits);
		}
		// A bit is read once the sample after its instant is in.
		if ((c->loop.tau >> 16) + 1 > n)
			return 0;
		const int r = bit(c, n);
		// Phasing heard: a new transmission, unless the lock is a good one
		// on phasing (its own phasing, its peaks lost in a fade).
		const bool renew = c->align.heard && (c->align.on_text || c->quality < kQualityDoubt);
		if (renew || (c->chars > kQualityMemory / 2 && c->quality < kQualityLost) ||
		    (!c->align.aligned && c->loop.bits > kAlignWithin)) {
			enh_clock_unlock(c);
			return -1;
		}
		return r;
	}

	for (int h = 0; h < ENH_HYP; h++)
		enh_pair_step(&c->hyp[h], sine, xr, xi, pos, n);
	if (enh_acq_step(&c->acq, c->hyp, n)) {
		lock(c);
		return 2;
	}
	return 0;
}
