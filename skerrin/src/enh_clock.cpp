// Enhanced chain, bit clock: see enh_clock.h.
#include "enh_clock.h"

#include <cstring>

namespace {

constexpr double kQualityLost = 0.53; // noise alone gives 0.5
constexpr int kQualityMemory = 64;

void lock(enh_clock *c)
{
	c->locked = 1;
	c->h = c->acq.best_h;
	const enh_pair &p = c->hyp[c->h];
	const int64_t peak = c->acq.best_n;
	enh_loop_start(&c->loop, peak, p.d[peak & (ENH_RING - 1)]);
	enh_afc_start(&c->afc, p.hz);
	enh_align_start(&c->align);
	c->level = enh_acq_level(p, peak);
	c->quality = 0.7;
	c->chars = 0;
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
	enh_loop_char(&c->loop, faded, c->level);
	enh_afc_char(&c->afc, faded, &c->hyp[c->h]);
}

// One bit at the decision instant; returns 1 when a group is complete.
int bit(enh_clock *c)
{
	const enh_pair &p = c->hyp[c->h];
	enh_loop &l = c->loop;
	const int64_t d = enh_ring_at(p.d, l.tau);
	const int64_t e = enh_ring_at(p.e, l.tau);
	const int64_t mid = enh_ring_at(p.d, l.tau - l.period / 2);
	const bool one = d > 0;
	// Only within a run of equal bits is the tone's turn clean.
	if (one == (l.prev_d > 0))
		enh_afc_bit(&c->afc, l.tau, one);
	enh_loop_bit(&l, d, mid);
	if (!enh_align_bit(&c->align, static_cast<int32_t>(d), static_cast<int32_t>(e), l.phasing, l.bits))
		return 0;
	int64_t absd = 0, esum = 0;
	for (int k = 0; k < 7; k++) {
		const int32_t v = c->align.grp_d[k];
		absd += v < 0 ? -int64_t(v) : v;
		esum += c->align.grp_e[k];
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
		enh_pair_tune(&c->hyp[h], hz[h]);
	}
}

void enh_clock_unlock(enh_clock *c)
{
	c->locked = 0;
	enh_acq_reset(&c->acq);
	enh_pair &p = c->hyp[c->h];
	enh_pair_tune(&p, p.hz);
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
		if (enh_loop_sample(&c->loop, p, n))
			enh_align_phasing_ended(&c->align, c->loop.bits);
		int r = 0;
		// A bit is read once the sample after its instant is in.
		while ((c->loop.tau >> 16) + 1 <= n) {
			if (bit(c))
				r = 1;
			if (c->chars > kQualityMemory && c->quality < kQualityLost) {
				enh_clock_unlock(c);
				return -1;
			}
		}
		return r;
	}

	for (int h = 0; h < ENH_HYP; h++)
		enh_pair_step(&c->hyp[h], sine, xr, xi, pos, n);
	if (enh_acq_step(&c->acq, c->hyp, n)) {
		lock(c);
		// Bits whose instants have passed during the search are read now;
		// they are the first two of a group, so none completes.
		while ((c->loop.tau >> 16) + 1 <= n)
			bit(c);
		return 2;
	}
	return 0;
}
