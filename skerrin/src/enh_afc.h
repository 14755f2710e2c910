// Enhanced chain, frequency tracking (AFC) of the locked pair.
//
// In: the locked pair's correlator sums per sample and each bit's
// decision.  Within a run of equal bits the stronger tone's sum turns, over
// 8 samples, by the carrier error; summed over a character, the turn
// retunes both oscillators, by at most 10 Hz a character and through a
// gear that grows to 32 characters of memory; the offset followed stays
// within +-130 Hz.  In a fade it holds.  Integers only: the turn's angle
// from a table of the arc tangent, frequencies in oscillator steps.
#ifndef SKERRIN_ENH_AFC_H
#define SKERRIN_ENH_AFC_H

#include <cstdint>

#include "enh_front.h"

constexpr int ENH_HIST = 32; // per-sample correlator sums kept

struct enh_afc {
	int32_t mark_re[ENH_HIST], mark_im[ENH_HIST], space_re[ENH_HIST], space_im[ENH_HIST];
	int64_t f_re, f_im; // phase turn over the current character
	int kf;             // gear
	int32_t offset;     // carrier offset now followed, oscillator steps
};

// A new lock on a pair listening at `offset` (oscillator steps): no
// history.
void enh_afc_start(enh_afc *a, int32_t offset);
// The angle of re + j im in turns, Q32 (a half turn either way).
int32_t enh_angle(int64_t re, int64_t im);
// Sample n of the locked pair is in.
void enh_afc_sample(enh_afc *a, const enh_pair &p, int64_t n);
// A bit equal to the one before, read at Q16 time tau: one turn measured.
void enh_afc_bit(enh_afc *a, int64_t tau, bool one);
// Once a character: retunes the pair unless in a fade.
void enh_afc_char(enh_afc *a, bool faded, enh_pair *p);

#endif
