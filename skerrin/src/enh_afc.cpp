// Enhanced chain, frequency tracking: see enh_afc.h.
#include "enh_afc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kMaxGear = 32;

} // namespace

void enh_afc_start(enh_afc *a, double hz)
{
	std::memset(a, 0, sizeof *a);
	a->kf = 3;
	a->hz = hz;
}

void enh_afc_sample(enh_afc *a, const enh_pair &p, int64_t n)
{
	const int hi = static_cast<int>(n & (ENH_HIST - 1));
	a->mark_re[hi] = p.mark.acc_re;
	a->mark_im[hi] = p.mark.acc_im;
	a->space_re[hi] = p.space.acc_re;
	a->space_im[hi] = p.space.acc_im;
}

void enh_afc_bit(enh_afc *a, int64_t tau, bool one)
{
	const int i = static_cast<int>((tau + 0x8000) >> 16) & (ENH_HIST - 1);
	const int j = (i - 8) & (ENH_HIST - 1);
	const int32_t *re = one ? a->mark_re : a->space_re;
	const int32_t *im = one ? a->mark_im : a->space_im;
	a->f_re += (int64_t(re[i]) * re[j] + int64_t(im[i]) * im[j]) >> 8;
	a->f_im += (int64_t(im[i]) * re[j] - int64_t(re[i]) * im[j]) >> 8;
}

void enh_afc_char(enh_afc *a, bool faded, enh_pair *p)
{
	if (!faded && (a->f_re != 0 || a->f_im != 0)) {
		const double turn = std::atan2(static_cast<double>(a->f_im), static_cast<double>(a->f_re));
		const double hz = turn * ENH_RATE / (2 * M_PI * 8);
		a->hz = std::clamp(a->hz + std::clamp(hz / a->kf, -10.0, 10.0), -130.0, 130.0);
		if (a->kf < kMaxGear)
			a->kf += 1;
		enh_pair_tune(p, a->hz);
	}
	a->f_re = a->f_im = 0;
}
