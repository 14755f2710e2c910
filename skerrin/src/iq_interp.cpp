// Front end of one channel: I/Q sample in, FSK detection value out.
//
// Input: raw converter words, unsigned 0..32767, 1700 samples per second
// per channel (the constants below are fixed for that rate).  Output: the
// discriminator value Im(conj(z[n]) * z[n-5]) / 128 of the low-passed,
// offset-free sample z = I + jQ; positive for a tone below the channel
// centre.  Also kept: DC offsets and mean absolute amplitudes (read by the
// gain regulation).  Integer arithmetic, divisions truncate toward zero.
#include "iq_interp.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The bit sampler sums nine detection values and the phasing detector
// weights them by up to four, all in int; a full-scale tone would pass
// that range, so the value is held where every later sum stays in range.
// Ordinary levels (the regulation target) are thousands of times smaller.
constexpr int64_t kDetectLimit = INT_MAX / 9;

// Weight of the running mean amplitudes set by interp_iq_init.
constexpr int kDefaultAmpFac = 64;

} // namespace

int filter_init(struct filter *self)
{
	for (int k = 0; k < 5; k++) {
		self->x[k] = 0;
		self->y[k] = 0;
	}
	return 0;
}

// Second-order Butterworth low-pass, -3 dB at 200 Hz for 1700 Hz sampling:
// numerator (1, 2, 1) unnormalised, feedback quantised to 1/1024.
int filter_run(struct filter *self, int in)
{
	int out = in + 2 * self->x[2] + self->x[1] +
		  (1025 * self->y[2] - 363 * self->y[1]) / 1024;

	self->x[0] = self->x[1];
	self->x[1] = self->x[2];
	self->x[2] = in;
	self->y[0] = self->y[1];
	self->y[1] = self->y[2];
	self->y[2] = out;
	return out;
}

int interp_iq_init(struct s_interp_iq *s_iq, int sample_rate)
{
	(void)sample_rate; // every constant is fixed for 1700 Hz
	for (auto &e : s_iq->iqbuffer)
		e = icomplex{0, 0};
	filter_init(&s_iq->imag);
	filter_init(&s_iq->real);
	s_iq->off_r = 0;
	s_iq->sig_amp_fac = kDefaultAmpFac;
	s_iq->signal = 0;
	s_iq->idelay = 5;
	s_iq->amp_i = 0;
	s_iq->amp_r = 0;
	s_iq->off_i = 0;
	printf("idelay : %d\n", s_iq->idelay);
	return 0;
}

int interp_iq(struct s_interp_iq *s_iq, icomplex iq)
{
	// DC offsets: first-order tracker, -3 dB near 28 Hz.
	s_iq->off_r = (iq.real + 10 * s_iq->off_r) / 11;
	s_iq->off_i = (iq.imag + 10 * s_iq->off_i) / 11;

	int dq = iq.imag - s_iq->off_i;
	int di = iq.real - s_iq->off_r;

	const int f = s_iq->sig_amp_fac;
	if (f == kDefaultAmpFac) {
		// The usual weight: a constant divisor costs a multiply, not a division.
		s_iq->amp_i = (s_iq->amp_i * kDefaultAmpFac + std::abs(dq)) / (kDefaultAmpFac + 1);
		s_iq->amp_r = (s_iq->amp_r * kDefaultAmpFac + std::abs(di)) / (kDefaultAmpFac + 1);
	} else {
		s_iq->amp_i = (s_iq->amp_i * f + std::abs(dq)) / (f + 1);
		s_iq->amp_r = (s_iq->amp_r * f + std::abs(di)) / (f + 1);
	}

	int fq = filter_run(&s_iq->imag, dq);
	int fi = filter_run(&s_iq->real, di);

	// Fixed-size copies through a temporary compile to a few moves; the
	// overlapping loop became a library memmove call per sample.
	icomplex older[7];
	memcpy(older, s_iq->iqbuffer, sizeof older);
	memcpy(s_iq->iqbuffer + 1, older, sizeof older);
	s_iq->iqbuffer[0] = icomplex{fi, fq};

	// Products of two filtered components pass 32 bits near full scale.
	const icomplex &old = s_iq->iqbuffer[s_iq->idelay];
	int64_t d = (static_cast<int64_t>(fi) * old.imag -
		     static_cast<int64_t>(fq) * old.real) / 128;
	if (d > kDetectLimit)
		d = kDetectLimit;
	else if (d < -kDetectLimit)
		d = -kDetectLimit;

	s_iq->detect = static_cast<int>(d);
	return s_iq->detect;
}
