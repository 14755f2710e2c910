// Enhanced chain, frequency tracking: see enh_afc.h.
#include "enh_afc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kMaxGear = 32;
const int32_t kMaxStep = enh_hz_steps(10.0);    // a character
const int32_t kMaxOffset = enh_hz_steps(130.0);

// atan(j / 256) in turns, Q32, j = 0..256: made once at start-up.
struct atan_table {
	uint32_t v[257];
	atan_table()
	{
		for (int j = 0; j <= 256; j++)
			v[j] = static_cast<uint32_t>(std::llround(std::atan(j / 256.0) / (2 * M_PI) * 4294967296.0));
	}
};

const uint32_t *atan_turns()
{
	static const atan_table t;
	return t.v;
}

} // namespace

int32_t enh_angle(int64_t re, int64_t im)
{
	uint64_t x = re < 0 ? uint64_t(-re) : uint64_t(re), y = im < 0 ? uint64_t(-im) : uint64_t(im);
	const bool steep = y > x;
	if (steep)
		std::swap(x, y);
	if (x == 0)
		return 0;
	while (x >= (uint64_t(1) << 40)) {
		x >>= 1;
		y >>= 1;
	}
	// y / x in Q16, 0..1: between two table entries, linearly.
	const uint64_t r = (y << 16) / x;
	const uint32_t *t = atan_turns();
	const uint64_t j = r >> 8, f = r & 255;
	uint32_t a = j >= 256 ? t[256] : t[j] + static_cast<uint32_t>(((uint64_t(t[j + 1] - t[j])) * f) >> 8);
	if (steep)
		a = 0x40000000u - a;
	if (re < 0)
		a = 0x80000000u - a;
	return im < 0 ? -static_cast<int32_t>(a) : static_cast<int32_t>(a);
}

void enh_afc_start(enh_afc *a, int32_t offset)
{
	std::memset(a, 0, sizeof *a);
	a->kf = 3;
	a->offset = offset;
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
		// The turn over 8 samples: an eighth of it is the error per
		// sample, in oscillator steps.
		const int32_t err = enh_angle(a->f_re, a->f_im) / 8;
		const int32_t step = std::clamp(err / a->kf, -kMaxStep, kMaxStep);
		a->offset = std::clamp(a->offset + step, -kMaxOffset, kMaxOffset);
		if (a->kf < kMaxGear)
			a->kf += 1;
		enh_pair_tune(p, a->offset);
	}
	a->f_re = a->f_im = 0;
}
