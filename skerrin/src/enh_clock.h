// Enhanced chain, bit clock: phasing acquisition, bit timing, frequency
// tracking and character alignment.
//
// In: offset-free samples (enh_front).  Out: seven-bit groups of soft
// evidence, each bit as d = mark energy - space energy (positive: the
// upper tone, a 1 bit) and e = mark + space energy, both in the
// correlators' energy units (32-bit, see enh_front.h), with the group's
// place: first copy (DX) or repetition (RX).
//
// Unlocked, three oscillator pairs listen at -85, 0 and +85 Hz carrier
// offset (covering +-127 Hz with at most 42 Hz error).  Every second sample
// each pair's evidence is correlated with the phasing pattern: its newest
// period first (14 bits), all three periods (42 bits) only where that one
// matches.  A normalised correlation above 0.5, also matching on the
// first-copy halves and on the pair that carries the signal's energy,
// starts a one-period search for the best peak over all pairs; that peak
// locks: its sample ends the pattern's last bit, so the next bit begins a
// first copy.
//
// Locked, only the chosen pair runs.  Each bit is read at its decision
// instant (interpolated between samples, Q16 sample times).  While the
// phasing lasts, its correlation peaks (one per 14 bits) are fitted to a
// line that sets the clock's phase and rate.  Afterwards the evidence half
// a bit before each decision, which straddles the bit boundary, tells how
// early or late the clock is when the bit differs from the one before (a
// Gardner-type detector on the energy difference); once per character, in
// floating point, it corrects phase and rate through an alpha-beta loop
// whose memory grows to 300 characters (2100 bits); the rate stays within
// 16.88 to 17.2 samples per bit.  The phase turn of the stronger tone's
// correlator over 8 samples retunes both oscillators (AFC).  In a fade
// (a character's mean |d| below half the usual) both loops hold.
// Characters stay aligned where the phasing pattern has matched best and
// well, on a running mean; within a message, where the repetitions match
// their first copies best (a bit slipped in a fade moves that place).  The lock ends when the mean ratio |d|/e of the
// characters falls to that of noise, or by enh_clock_unlock.
#ifndef SKERRIN_ENH_CLOCK_H
#define SKERRIN_ENH_CLOCK_H

#include <cstdint>

#include "enh_front.h"

constexpr int ENH_HYP = 3;
constexpr int ENH_RING = 1024; // per-sample history; holds 42 bits
constexpr int ENH_HIST = 32;   // per-sample correlator sums, for the AFC

struct enh_hyp {
	double hz; // carrier offset listened at while unlocked
	enh_tone mark, space;
	int32_t d[ENH_RING]; // mark - space energy per sample
	int32_t e[ENH_RING]; // mark + space energy per sample
};

struct enh_clock {
	enh_hyp hyp[ENH_HYP];
	int64_t n;   // samples since start
	int64_t fill; // samples of valid history since the last unlock
	int pos;      // correlator window slot, 0..16
	int locked;
	int h;       // the locked pair

	// Peak search.
	int searching, search_left, best_h;
	int64_t best_n, best_c, best_e;

	// Bit clock (Q16 sample times).
	int64_t tau;    // next decision instant
	int64_t period; // samples per bit
	int32_t prev_d;
	int64_t g_sum;  // timing detector over the current character
	int g_count;
	int64_t f_re, f_im; // phase turn of the AFC over the current character
	int32_t mark_re[ENH_HIST], mark_im[ENH_HIST], space_re[ENH_HIST], space_im[ENH_HIST];

	// While the phasing signal lasts: its correlation peaks, one a period,
	// fitted to a line (least squares, sample times from the lock's peak).
	int phasing;    // 1 while peaks keep coming
	int misses;     // periods in a row without a peak
	int64_t origin; // sample of the lock's peak
	int64_t bits;   // bits read since the lock
	int64_t expect; // sample where the next peak is due
	int win_left;
	int64_t win_c[32];
	int64_t win_e[32];
	double fit_n, fit_m, fit_mm, fit_t, fit_mt; // sums over peaks m, times t
	int peaks;      // periods since the lock (index of the expected peak)

	// Soft history of the last 64 bits for realignment.
	int32_t bit_d[64], bit_e[64];
	int bit_pos;
	// Running match of each bit with the one 35 bits (five characters)
	// earlier, by position in the period: high on the repetitions.
	int64_t rep_c[14], rep_e[14];
	int64_t rep_from; // bits read when the phasing ended
	int64_t sync_c[14], sync_e[14]; // running match by position in the period
	int bmod;      // position of the next bit in the period
	int align_mod; // position where the pattern ends: a repetition ends there

	// Character assembly.
	int bitcnt; // next bit's place in the group, 0..6
	int bytcnt; // groups since alignment: odd first copies, even repetitions
	int32_t grp_d[7], grp_e[7];

	// Per-character loop state (floating point, once a character).
	double k;      // gear of the timing loop
	double kf;     // gear of the AFC
	double afc_hz; // carrier offset now followed
	double level;  // mean |d| of a bit
	double quality; // mean |d|/e of a character
	int chars;      // characters since the lock
};

void enh_clock_init(enh_clock *c);
// Back to listening for phasing.
void enh_clock_unlock(enh_clock *c);
// One offset-free sample.  Returns 1 when a group is complete (in grp_d,
// grp_e, bytcnt odd for a first copy), 2 when the lock was just gained,
// -1 when it was just lost, else 0.
int enh_clock_step(enh_clock *c, int xr, int xi);

// The phasing pattern in time order, 1 for the upper tone: the pair of
// phasing signals, first copy then repetition.
extern const int enh_phasing[14];

#endif
