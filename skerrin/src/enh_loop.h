// Enhanced chain, bit loop: when each bit is read, and at what rate.
//
// In: the locked pair's evidence rings (enh_front).  Out: the decision
// instant of the next bit (Q16 sample times) and the samples per bit.
// Each bit is read at its instant, interpolated between samples.  While
// the phasing lasts, its correlation peaks (one per 14 bits) are fitted to
// a line that sets the clock's phase and rate; two missed peaks end the
// phasing.  The line's slope is drawn toward the nominal 17.0765 samples
// per bit by its standard error (the peaks' spread about the line): a
// slope within two standard errors of the nominal gives the nominal, one
// further off keeps all but 4 se^2 / deviation of its difference, so a
// plainly different rate (1700 frames/s, +-5000 ppm) stays.  Afterwards
// the evidence half a bit before each decision, which straddles the bit
// boundary, tells how early or late the clock is when the bit differs
// from the one before (a Gardner-type detector on the energy difference);
// once per character it corrects phase and rate through an alpha-beta
// loop whose memory grows to 300 characters (2100 bits), in integers (Q16
// samples).  After a phasing the phase's memory starts at 6 characters a
// peak, the rate's the longer (up to 150) the more the fitted rate was
// drawn toward the nominal.  The rate stays within 16.88 to 17.2 samples
// per bit.  In a fade the loop holds.  A clock about half a bit off, where
// the detector tells nothing, shows as more evidence half a bit before
// the decisions than at them (over 16 characters): it moves there by half
// a bit, back or on as the detector last leaned, and both memories drop
// to 30 characters.
#ifndef SKERRIN_ENH_LOOP_H
#define SKERRIN_ENH_LOOP_H

#include <cstdint>

#include "enh_front.h"

struct enh_loop {
	int64_t tau;    // next decision instant, Q16 samples
	int64_t period; // samples per bit, Q16
	int64_t rate;   // the same in Q24, where the loop's small steps add up
	int32_t prev_d; // the last bit's evidence
	int64_t g_sum;  // timing detector over the current character
	int g_count;
	int k;          // gear: characters of memory
	int kr;         // the same for the rate
	int32_t fit_trust;       // how much of the fitted rate was kept, Q16
	int64_t eye_on, eye_mid; // |d| at the decisions and half a bit before
	int32_t eye;             // their running contrast, Q16
	int64_t x_mean;          // the timing detector's running mean, Q16 samples
	int64_t bits;   // bits read since the lock

	// While the phasing signal lasts: its correlation peaks, one a period,
	// fitted to a line (least squares, sample times from the lock's peak).
	int phasing;    // 1 while peaks keep coming
	int misses;     // periods in a row without a peak
	int64_t origin; // sample of the lock's peak
	int64_t expect; // sample where the next peak is due
	int win_left;
	int64_t win_c[32];
	int64_t win_e[32];
	int64_t fit_n, fit_m, fit_mm; // sums over the peaks m = 0, 1, ...
	int64_t fit_t, fit_mt;        // and their times t, Q16 samples
	int64_t fit_slope, fit_icpt;  // the line, Q16 samples
	int64_t fit_rr, fit_r;        // squared distances of the peaks from it, Q24
	int peaks;      // periods since the lock (index of the expected peak)
};

// A lock on the phasing peak ending at sample `peak`, whose evidence is
// `d`; with `traffic`, a lock on text whose bit ends there: no phasing
// peaks to follow.
void enh_loop_start(enh_loop *l, int64_t peak, int32_t d, bool traffic);
// Sample n of the locked pair is in; follows the phasing peaks.  Returns
// 1 when the phasing has just ended, else 0.
int enh_loop_sample(enh_loop *l, const enh_pair &p, int64_t n);
// The bit at tau read: its evidence d, and `mid` half a bit earlier.
// Advances tau.
void enh_loop_bit(enh_loop *l, int64_t d, int64_t mid);
// Once a character: phase and rate from the timing detector, unless in a
// fade; `level` is the mean |d| of a bit.
void enh_loop_char(enh_loop *l, bool faded, int64_t level);

#endif
