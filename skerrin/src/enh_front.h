// Enhanced chain, front end: one raw I/Q sample in, offset-free I/Q out,
// and the tone correlators that turn it into per-sample tone energies.
//
// In: the raw pair of one channel (unsigned 15-bit words, 1700 samples per
// second nominal; the board runs at 1707.65).  The DC level is followed
// slowly (time constant 1024 samples, 0.6 s), so a tone close to 0 Hz -
// one of the tones under a large carrier offset - passes.  The running mean
// amplitudes that the gain regulation reads are kept exactly as the
// specified front end keeps them.
//
// A tone correlator mixes the offset-free sample down by its own oscillator
// (32-bit phase, 1024-entry Q14 sine table) and sums the last 17 products:
// a non-coherent matched filter over one bit.  Its energy |sum|^2 >> 10 is
// at most 2^29.3 at full-scale input, so energies and their sums and
// differences of two fit 32 bits.  Integers only; no divisions.
#ifndef SKERRIN_ENH_FRONT_H
#define SKERRIN_ENH_FRONT_H

#include <cstdint>

#include "iq_interp.h"

constexpr int ENH_WIN = 17; // samples summed: one bit at 1700 samples/s
constexpr int ENH_RING = 1024; // per-sample evidence history of a pair: 60 bits
constexpr double ENH_RATE = 1700.0;

struct enh_tone {
	uint32_t phase; // oscillator phase, 2^32 = one turn
	uint32_t inc;   // per sample
	int32_t re[ENH_WIN], im[ENH_WIN]; // the products in the window
	int32_t acc_re, acc_im;           // their sum
};

struct enh_front {
	int32_t dc_r, dc_i; // DC level in 1/64 sample units
	int started;
	int pos; // window slot of the next product, shared by the correlators
};

// Oscillator at `hz` (sign: above or below the channel centre).
void enh_tone_set(enh_tone *t, double hz);
void enh_tone_clear(enh_tone *t);

// The Q14 sine table, 1024 entries over one turn.
const int16_t *enh_sine_table();

void enh_front_init(enh_front *f);
// Offset-free sample; also advances the gain regulation's amplitude means
// in `s_iq` (amp_i, amp_r, off_i, off_r) the way the specified front end does.
void enh_front_step(enh_front *f, s_interp_iq *s_iq, icomplex iq, int *xr, int *xi);

// One sample into a correlator; `pos` is the window slot (0..16).
inline void enh_tone_step(enh_tone *t, const int16_t *sine, int xr, int xi, int pos)
{
	const uint32_t idx = t->phase >> 22;
	const int32_t s = sine[idx];
	const int32_t c = sine[(idx + 256) & 1023];
	t->phase += t->inc;
	// x * exp(-j phase); |x| < 2^15 and |c|,|s| <= 2^14, so each sum of
	// two products stays below 2^30.
	const int32_t yr = (xr * c + xi * s) >> 14;
	const int32_t yi = (xi * c - xr * s) >> 14;
	t->acc_re += yr - t->re[pos];
	t->acc_im += yi - t->im[pos];
	t->re[pos] = yr;
	t->im[pos] = yi;
}

inline int32_t enh_tone_energy(const enh_tone *t)
{
	const int64_t r = t->acc_re, i = t->acc_im;
	return static_cast<int32_t>((r * r + i * i) >> 10);
}

// A pair of correlators 170 Hz apart round a carrier offset, with the
// history of their evidence per sample: d = mark - space energy (positive:
// the upper tone, a 1 bit), e = mark + space energy.
struct enh_pair {
	int32_t listen; // carrier offset listened at while unlocked, in
			// oscillator steps (2^32 a turn a sample)
	enh_tone mark, space;
	int32_t d[ENH_RING];
	int32_t e[ENH_RING];
};

// Oscillator steps of a frequency: 2^32 per turn per sample.
int32_t enh_hz_steps(double hz);
// Oscillators of the pair at a carrier offset in oscillator steps (the
// listening offset is not changed).
void enh_pair_tune(enh_pair *p, int32_t offset);

inline void enh_pair_step(enh_pair *p, const int16_t *sine, int xr, int xi, int pos, int64_t n)
{
	enh_tone_step(&p->mark, sine, xr, xi, pos);
	enh_tone_step(&p->space, sine, xr, xi, pos);
	const int32_t em = enh_tone_energy(&p->mark), es = enh_tone_energy(&p->space);
	const int idx = static_cast<int>(n & (ENH_RING - 1));
	p->d[idx] = em - es;
	p->e[idx] = em + es;
}

// Value of a per-sample ring at a Q16 sample time, interpolated.
inline int64_t enh_ring_at(const int32_t *ring, int64_t t)
{
	const int64_t i = t >> 16;
	const int64_t f = t & 0xffff;
	const int64_t a = ring[i & (ENH_RING - 1)], b = ring[(i + 1) & (ENH_RING - 1)];
	return a + (((b - a) * f) >> 16);
}

constexpr int64_t enh_q16(double v)
{
	return static_cast<int64_t>(v * 65536.0 + (v >= 0 ? 0.5 : -0.5));
}

#endif
