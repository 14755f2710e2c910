// Enhanced chain, acquisition: finds where a transmission can be read
// while the bit clock is unlocked.
//
// In: the evidence rings of the listening pairs (enh_front), at -85, 0 and
// +85 Hz carrier offset (covering +-127 Hz with at most 42 Hz error).
// Every second sample each pair's evidence is correlated with the phasing
// pattern: its newest period first (14 bits), all three periods (42 bits)
// only where that one matches.  A normalised correlation above 0.5, also
// matching on the first-copy halves and on the pair that carries the
// signal's energy, starts a one-period search for the best peak over all
// pairs.  Out: that peak (pair, sample); its sample ends the pattern's
// last bit, so the next bit begins a first copy.
//
// Where no phasing is heard, text is found from its bits alone: every 128
// samples each pair reads the last 56 bits at each of the 17 sample phases
// of a bit.  Where the eye is open (mean |d|/e of the bits above 0.72;
// noise gives 0.5), both tones carry the bits (each tone's energy in its
// own bits against the other bits, see enh_tone_contrast) and the bits do
// not repeat every 7 or 14 (the idle and phasing signals do), the best
// phase of the best pair is a lock on traffic: its sample ends a bit, the
// character alignment is still to be found (enh_align).
//
// A candidate whose pattern's bits do not show on both tones of its pair
// is refused: a pair listening beside the signal sees one tone only.
#ifndef SKERRIN_ENH_ACQ_H
#define SKERRIN_ENH_ACQ_H

#include <cstdint>

#include "enh_front.h"

constexpr int ENH_HYP = 3;         // listening pairs
constexpr int ENH_TAPS = 42;       // three phasing periods
constexpr double ENH_ACQ_PERIOD = 17.04; // samples per bit assumed while listening

struct enh_acq {
	int64_t fill; // samples of valid history since listening began
	int searching, search_left;
	// The best peak so far: pair, sample, correlation and energy.
	int best_h;
	int64_t best_n, best_c, best_e;
	int traffic; // the candidate is text, not phasing
};

// How much more energy a tone carries in its own bits than in the others:
// (on - off) / (on + off) of the mean energies per bit, Q16 (65536 for a
// clean signal, 0 when the tone carries nothing; noise gives about half
// when the bits are taken from the evidence's signs).  The lesser of the
// two tones' values.  d, e per bit; ones[k] tells bit k's value.
int32_t enh_tone_contrast(const int32_t *d, const int32_t *e, const bool *ones, int count);

// The phasing pattern in time order, 1 for the upper tone: the pair of
// phasing signals, first copy then repetition.
extern const int enh_phasing[14];

// Back to listening, the history not yet valid.
void enh_acq_reset(enh_acq *a);
// Sample n is in the pairs' rings.  Returns 1 when a peak was found (in
// best_h, best_n), else 0.
int enh_acq_step(enh_acq *a, const enh_pair pairs[ENH_HYP], int64_t n);

// Normalised 42-bit phasing correlation of pair `p` ending at sample n:
// its sum in *cs, the energy in *es.  With `gate`, gives up (false) after
// the newest period when that alone matches too poorly for the whole to
// pass.  `c_half` tells whether the first-copy halves match too.
bool enh_acq_corr(const enh_pair &p, int64_t n, int64_t *cs, int64_t *es, bool gate = false,
		  bool *c_half = nullptr);
// Mean |d| over the newest phasing period's taps ending at sample n.
int64_t enh_acq_level(const enh_pair &p, int64_t n);

#endif
