// Enhanced chain, bit clock: acquisition (enh_acq), bit loop (enh_loop),
// frequency tracking (enh_afc) and character alignment (enh_align) of one
// channel, and the rules that start and end a lock.
//
// In: offset-free samples (enh_front).  Out: seven-bit groups of soft
// evidence, each bit as d = mark energy - space energy (positive: the
// upper tone, a 1 bit) and e = mark + space energy, both in the
// correlators' energy units (32-bit, see enh_front.h), with the group's
// place: first copy (DX) or repetition (RX).
//
// Unlocked, the listening pairs run and acquisition looks for phasing.
// Locked, only the chosen pair runs.
// The lock ends when the mean ratio |d|/e of the characters falls to that
// of noise, or by enh_clock_unlock.
#ifndef SKERRIN_ENH_CLOCK_H
#define SKERRIN_ENH_CLOCK_H

#include <cstdint>

#include "enh_acq.h"
#include "enh_afc.h"
#include "enh_align.h"
#include "enh_front.h"
#include "enh_loop.h"

struct enh_clock {
	enh_pair hyp[ENH_HYP];
	int64_t n;   // samples since start
	int pos;     // correlator window slot, 0..16
	int locked;
	int h;       // the locked pair

	enh_acq acq;
	enh_loop loop;
	enh_afc afc;
	enh_align align;

	double level;   // mean |d| of a bit
	double quality; // mean |d|/e of a character
	int chars;      // characters since the lock
};

void enh_clock_init(enh_clock *c);
// Back to listening for phasing.
void enh_clock_unlock(enh_clock *c);
// One offset-free sample.  Returns 1 when a group is complete (in
// align.grp_d, align.grp_e, align.bytcnt odd for a first copy), 2 when the
// lock was just gained, -1 when it was just lost, else 0.
int enh_clock_step(enh_clock *c, int xr, int xi);

#endif
