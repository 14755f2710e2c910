// Front end: one complex baseband sample in, one FSK detection value out.
//
// Takes the raw I/Q pair of one channel (unsigned 15-bit words, 1700 samples
// per second nominal), removes the DC offset, keeps running mean amplitudes
// (read by the gain regulation), low-pass filters both components (200 Hz
// Butterworth) and returns the delay-line discriminator value
//   detect = Im(conj(z[n]) * z[n-5]) / 128,
// positive for a tone below the channel centre, negative above it, growing
// with the square of the amplitude.  32-bit integer arithmetic, truncating
// divisions.
#ifndef SKERRIN_IQ_INTERP_H
#define SKERRIN_IQ_INTERP_H

#include "shared_double.h"

struct icomplex {
	int real; // I component
	int imag; // Q component
};

struct filter {
	int x[5]; // x[2] previous input, x[1] the one before, x[0] before that
	int y[5]; // y[2] previous output, y[1] the one before, y[0] before that
};

struct s_interp_iq {
	icomplex iqbuffer[8]; // filtered samples, entry 0 the newest
	struct filter real;
	struct filter imag;
	int signal;
	int sig_amp_fac;
	int idelay;
	int amp_i; // mean |Q| after offset removal
	int amp_r; // mean |I| after offset removal
	int off_i;
	int off_r;
	int detect;
	double dbm_calc[3];
	double dbm_cal_a, dbm_cal_b, dbm_cal_c;
	// Written by the acquisition thread, read by the protocol server.
	shared_double signal_dbm;
};

int filter_init(struct filter *self);
int filter_run(struct filter *self, int in);
int interp_iq_init(struct s_interp_iq *s_iq, int sample_rate);
int interp_iq(struct s_interp_iq *s_iq, icomplex iq);

#endif
