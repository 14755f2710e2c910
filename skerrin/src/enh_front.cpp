// Enhanced chain, front end: slow DC removal, the gain regulation's
// amplitude means, and the tone correlators' oscillators.
#include "enh_front.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct sine_table {
	int16_t v[1024];
	sine_table()
	{
		for (int k = 0; k < 1024; k++)
			v[k] = static_cast<int16_t>(std::lround(16384.0 * std::sin(2 * M_PI * k / 1024.0)));
	}
};

} // namespace

const int16_t *enh_sine_table()
{
	static const sine_table t;
	return t.v;
}

void enh_tone_set(enh_tone *t, double hz)
{
	double turns = hz / ENH_RATE;
	turns -= std::floor(turns);
	t->inc = static_cast<uint32_t>(std::llround(turns * 4294967296.0) & 0xffffffffll);
}

void enh_tone_clear(enh_tone *t)
{
	const uint32_t inc = t->inc;
	std::memset(t, 0, sizeof *t);
	t->inc = inc;
}

int32_t enh_hz_steps(double hz)
{
	return static_cast<int32_t>(std::llround(hz / ENH_RATE * 4294967296.0));
}

void enh_pair_tune(enh_pair *p, int32_t offset)
{
	// The tones 85 Hz either side; wrapping is a whole turn.
	static const int32_t k85 = enh_hz_steps(85.0);
	p->mark.inc = static_cast<uint32_t>(offset) + static_cast<uint32_t>(k85);
	p->space.inc = static_cast<uint32_t>(offset) - static_cast<uint32_t>(k85);
}

void enh_front_init(enh_front *f)
{
	std::memset(f, 0, sizeof *f);
}

void enh_front_step(enh_front *f, s_interp_iq *s_iq, icomplex iq, int *xr, int *xi)
{
	// The gain regulation reads these; same arithmetic as the specified
	// front end, so both chains regulate alike.
	s_iq->off_r = (iq.real + 10 * s_iq->off_r) / 11;
	s_iq->off_i = (iq.imag + 10 * s_iq->off_i) / 11;
	const int dq = iq.imag - s_iq->off_i;
	const int di = iq.real - s_iq->off_r;
	s_iq->amp_i = (s_iq->amp_i * 64 + std::abs(dq)) / 65;
	s_iq->amp_r = (s_iq->amp_r * 64 + std::abs(di)) / 65;

	if (!f->started) {
		f->started = 1;
		f->dc_r = iq.real * 64;
		f->dc_i = iq.imag * 64;
	}
	f->dc_r += (iq.real * 64 - f->dc_r) >> 10;
	f->dc_i += (iq.imag * 64 - f->dc_i) >> 10;
	*xr = iq.real - (f->dc_r >> 6);
	*xi = iq.imag - (f->dc_i >> 6);
}
