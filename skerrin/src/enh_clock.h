// Enhanced chain, bit clock of one channel: acquisition (enh_acq), bit
// loop (enh_loop), frequency tracking (enh_afc) and character alignment
// (enh_align), and the rules that start and end a lock.
//
// In: offset-free samples (enh_front).  Out: seven-bit groups of soft
// evidence, each bit as d = mark energy - space energy (positive: the
// upper tone, a 1 bit) and e = mark + space energy, both in the
// correlators' energy units (32-bit, see enh_front.h), with the group's
// place: first copy (DX) or repetition (RX).
//
// Unlocked, the three listening pairs run and acquisition looks for
// phasing and for text.  Locked, only the chosen pair runs, and nothing of
// an earlier lock is used: loop, AFC, alignment, level and quality start
// afresh at each lock, from the lock's own evidence.
//
// A lock starts:
// - on a phasing peak whose pattern shows on both tones of its pair, the
//   next bit beginning a first copy;
// - on text (no phasing heard), its alignment found from the repetitions
//   within the next four seconds.
// A lock ends:
// - when its quality falls to that of noise: the quality is a running mean
//   over 32 characters of each character's tone contrast (the lesser of
//   the two tones' energy in their own bits against the other bits, see
//   enh_tone_contrast); it ends below 0.4, where noise gives about 0.3, a
//   pair that sees one tone only 0.25, a signal at -3 dB 0.5 and at 3 dB
//   0.8; in noise that takes about four seconds.  A character with next
//   to no energy (silence, a dead or DC input) counts 0, so the lock ends
//   about a second and a half after the energy is gone;
// - when a lock on phasing finds none of the next four peaks of the
//   pattern: text or the idle signal matched it by chance;
// - when a lock on text finds no alignment within 400 bits;
// - when phasing is heard plainly (0.7 on the last two periods) on a lock
//   on text, or three seconds after the lock's own phasing ended with the
//   quality below 0.65: a new transmission, perhaps on another frequency,
//   that acquisition takes afresh;
// - by enh_clock_unlock: the caller's end of transmission (the idle
//   signal's "aaaa").
// Bits are read one a sample at most, so the bits a lock finds already
// passed are read over the following samples and none of their groups is
// lost.
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
	int64_t locked_at; // sample of the lock

	enh_acq acq;
	enh_loop loop;
	enh_afc afc;
	enh_align align;

	int64_t level;   // mean |d| of a bit
	int32_t quality; // lock quality, Q16
	int chars;       // characters since the lock
};

void enh_clock_init(enh_clock *c);
// Back to listening.
void enh_clock_unlock(enh_clock *c);
// One offset-free sample.  Returns 1 when a group is complete (in
// align.grp_d, align.grp_e, align.bytcnt odd for a first copy), 2 when the
// lock was just gained, -1 when it was just lost, else 0.
int enh_clock_step(enh_clock *c, int xr, int xi);

#endif
