// Enhanced chain, character decision: see enh_char.h.
#include "enh_char.h"

#include <cstdio>
#include <cmath>
#include <cstring>

#include "decode_char.h"

namespace {

constexpr char kLettersShift = 14;
constexpr char kFiguresShift = 15;
constexpr int kPhasing1 = 34; // 'c', sent as first copy while phasing
constexpr int kPhasing2 = 33; // 'a', in the repetition slots
// Share of the pair's energy the winner must lead by; below it the
// character is marked as an error rather than guessed.
constexpr double kMinMargin = 0.003;
// In a fade the energy is mostly noise's; the lead is then also judged
// against the noise energy of a bit (followed over about 30 characters).
// Both thresholds are low: most characters they mark are right, and a
// mark costs as much as an error in the error rate.
constexpr double kNoiseMargin = 0.3;

double ones_sum(int idx, const double v[7])
{
	double s = 0;
	for (int j = 0; j < 7; j++)
		if (Alphabet[idx].sevenbit[j])
			s += v[j];
	return s;
}

} // namespace

int enh_codebook_pick(const double dx[7], const double rx[7], double *margin)
{
	double both[7];
	for (int j = 0; j < 7; j++)
		both[j] = dx[j] + rx[j];
	int best = 0;
	double m1 = -1e300, m2 = -1e300;
	for (int i = 0; i <= ENH_PHASING_PAIR; i++) {
		const double m = i < ALPHABET_SIZE ? ones_sum(i, both) : ones_sum(kPhasing1, dx) + ones_sum(kPhasing2, rx);
		if (m > m1) {
			m2 = m1;
			m1 = m;
			best = i;
		} else if (m > m2) {
			m2 = m;
		}
	}
	*margin = m1 - m2;
	return best;
}

void enh_char_init(enh_char_obj *o, int dbg_print)
{
	std::memset(o, 0, sizeof *o);
	o->dbg_print = dbg_print;
	o->char_num = 14;
	o->min_margin = kMinMargin;
	o->noise_margin = kNoiseMargin;
}

void enh_char_reset(enh_char_obj *o)
{
	std::memset(o->dx_d, 0, sizeof o->dx_d);
	std::memset(o->dx_e, 0, sizeof o->dx_e);
	o->ptr = 0;
	o->char_num = 14;
}

char enh_char_decide(enh_char_obj *o, const int32_t d[7], const int32_t e[7], int first_copy)
{
	if (first_copy) {
		std::memcpy(o->dx_d[o->ptr], d, sizeof o->dx_d[0]);
		std::memcpy(o->dx_e[o->ptr], e, sizeof o->dx_e[0]);
		o->ptr = (o->ptr + 1) % 4;
		return 0;
	}
	// The third most recent first copy was sent five positions earlier.
	const int k = (o->ptr + 1) % 4;
	double dx[7], rx[7], energy = 0, weaker = 0;
	for (int j = 0; j < 7; j++) {
		dx[j] = o->dx_d[k][j];
		rx[j] = d[j];
		energy += static_cast<double>(o->dx_e[k][j]) + e[j];
		// The tone not sent carries noise (and a little of the other).
		weaker += (static_cast<double>(e[j]) - std::fabs(rx[j])) / 2;
	}
	o->noise = o->noise > 0 ? o->noise + (weaker / 7 - o->noise) / 32 : weaker / 7;
	double margin = 0;
	const int idx = enh_codebook_pick(dx, rx, &margin);

	char ch;
	if (margin <= o->min_margin * energy || margin <= o->noise_margin * o->noise) {
		// Too close to trust; but the case follows the likeliest
		// character, since a lost shift would garble what follows.
		if (idx < ALPHABET_SIZE) {
			const char likely = decode_comb_num(idx, o->char_num);
			if (likely == kFiguresShift)
				o->char_num = 15;
			else if (likely == kLettersShift)
				o->char_num = 14;
		}
		ch = '*';
	} else if (idx == ENH_PHASING_PAIR) {
		ch = 's';
	} else {
		ch = decode_comb_num(idx, o->char_num);
		if (ch == 'n') {
			o->char_num = 14;
			ch = '*';
		}
	}
	if (o->dbg_print) {
		putchar(ch == kLettersShift ? 'l' : ch == kFiguresShift ? 'f' : ch);
		fflush(stdout);
	}
	if (ch == kFiguresShift) {
		o->char_num = 15;
		return 0;
	}
	if (ch == kLettersShift) {
		o->char_num = 14;
		return 0;
	}
	return ch;
}
