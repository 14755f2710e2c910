// Enhanced chain, character decision: see enh_char.h.
#include "enh_char.h"

#include <cstdio>
#include <cmath>
#include <cstring>
#include <algorithm>

#include "decode_char.h"

namespace {

constexpr char kLettersShift = 14;
constexpr char kFiguresShift = 15;
constexpr int kPhasing1 = 34; // 'c', sent as first copy while phasing
constexpr int kPhasing2 = 33; // 'a', in the repetition slots
// A character whose likelihood share among the patterns is below this is
// marked as an error rather than guessed.  A mark costs as much as an
// error in the error rate, and one in the header or in "NNNN" loses the
// message: stricter shares mark more wrong characters but cost messages.
constexpr double kMinPosterior = 0.6;
// Share of a tone's energy its neighbour's correlator sees: tones 170 Hz
// apart over a 17-sample window, sinc^2(1.69).
constexpr double kLeak = 0.02;
constexpr double kNoiseMemory = 4; // characters
constexpr int kIdxLetters = 28, kIdxFigures = 29;
// Within text, idle and phasing signals (and the unused pattern) do not
// follow a text character: there they start with a likelihood e^1.5 times
// smaller, so a character misread as one of them (and so lost from the
// text) more often stays itself or is marked.
constexpr int kIdxFirstControl = 31; // the unused pattern, beta, alpha, phasing 1, the pair
constexpr double kControlPrior = 1.5;
constexpr double kShiftShare = 0.5;

// ln I0(x), x >= 0: the polynomial fits of Abramowitz and Stegun 9.8.1 and
// 9.8.2 (relative error of I0 below 2e-7).
double log_i0(double x)
{
	if (x < 3.75) {
		const double t = x * x / (3.75 * 3.75);
		return std::log(1 + t * (3.5156229 + t * (3.0899424 + t * (1.2067492 + t * (0.2659732 + t * (0.0360768 + t * 0.0045813))))));
	}
	const double u = 3.75 / x;
	const double p = 0.39894228 + u * (0.01328592 + u * (0.00225319 + u * (-0.00157565 + u * (0.00916281 + u * (-0.02057706 + u * (0.02635537 + u * (-0.01647633 + u * 0.00392377)))))));
	return x + 0.5 * std::log(p * p / x); // one logarithm: emulated, they are dear
}

// Log-likelihood ratio of a 1 bit from the energies of the two tones
// (non-coherent detection of a tone of energy s in noise of energy n per
// correlator): ln I0(k sqrt(Em)) - ln I0(k sqrt(Es)), k = 2 sqrt(s) / n.
double bit_llr(double d, double e, double k)
{
	const double em = std::max((e + d) / 2, 0.0), es = std::max((e - d) / 2, 0.0);
	return log_i0(k * std::sqrt(em)) - log_i0(k * std::sqrt(es));
}

double ones_sum(int idx, const double v[7])
{
	double s = 0;
	for (int j = 0; j < 7; j++)
		if (Alphabet[idx].sevenbit[j])
			s += v[j];
	return s;
}

} // namespace

void enh_codebook_scores(const double dx[7], const double rx[7], double score[ENH_PHASING_PAIR + 1])
{
	double both[7];
	for (int j = 0; j < 7; j++)
		both[j] = dx[j] + rx[j];
	for (int i = 0; i < ALPHABET_SIZE; i++)
		score[i] = ones_sum(i, both);
	score[ENH_PHASING_PAIR] = ones_sum(kPhasing1, dx) + ones_sum(kPhasing2, rx);
}

int enh_codebook_pick(const double dx[7], const double rx[7], double *margin)
{
	double score[ENH_PHASING_PAIR + 1];
	enh_codebook_scores(dx, rx, score);
	int best = 0;
	double m1 = -1e300, m2 = -1e300;
	for (int i = 0; i <= ENH_PHASING_PAIR; i++) {
		const double m = score[i];
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
	o->min_posterior = kMinPosterior;
}

void enh_char_reset(enh_char_obj *o)
{
	std::memset(o->dx_d, 0, sizeof o->dx_d);
	std::memset(o->dx_e, 0, sizeof o->dx_e);
	o->ptr = 0;
	o->char_num = 14;
	o->in_text = 0;
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
	double energy = 0, weaker = 0;
	for (int j = 0; j < 7; j++) {
		const double ed[2] = {static_cast<double>(o->dx_e[k][j]), static_cast<double>(e[j])};
		const double ad[2] = {std::abs(static_cast<double>(o->dx_d[k][j])), std::abs(static_cast<double>(d[j]))};
		for (int c = 0; c < 2; c++) {
			energy += ed[c];
			// The tone not sent carries noise and, through the matched
			// filter's side lobe, about 2 % of the sent one.
			weaker += (ed[c] - ad[c]) / 2 - kLeak * (ed[c] + ad[c]) / 2;
		}
	}
	// Followed over a few characters: in a fade the level changes within
	// a second, and the side lobe's share changes with it.
	const double nc = std::max(weaker / 14, 1.0);
	o->noise = o->noise > 0 ? o->noise + (nc - o->noise) / kNoiseMemory : nc;
	// Per bit and copy the log-likelihood ratio of a 1, the tone's energy
	// taken from this character alone.
	const double n = std::max({o->noise, energy * 1e-6, 1.0});
	const double s = std::max(energy / 14 - 2 * n, 0.05 * n);
	const double gain = 2 * std::sqrt(s) / n;
	double dx[7], rx[7];
	for (int j = 0; j < 7; j++) {
		dx[j] = bit_llr(o->dx_d[k][j], o->dx_e[k][j], gain);
		rx[j] = bit_llr(d[j], e[j], gain);
	}
	double score[ENH_PHASING_PAIR + 1];
	enh_codebook_scores(dx, rx, score);
	if (o->in_text) {
		for (int i = kIdxFirstControl; i <= ENH_PHASING_PAIR; i++)
			score[i] -= kControlPrior;
	}
	int idx = 0;
	for (int i = 1; i <= ENH_PHASING_PAIR; i++)
		if (score[i] > score[idx])
			idx = i;
	// The winner's share of the likelihood of all patterns (those far
	// behind add nothing: exp(-40) is 4e-18; emulated exp is dear).
	double sum = 0;
	for (int i = 0; i <= ENH_PHASING_PAIR; i++)
		if (score[i] - score[idx] > -40)
			sum += std::exp(score[i] - score[idx]);
	o->posterior = 1 / sum;

	o->in_text = idx < kIdxFirstControl;
	char ch;
	if (o->posterior < o->min_posterior) {
		// Too close to trust; the case changes only when a shift is
		// likelier than all other patterns together: a lost shift garbles
		// what follows, and so does a false one (in slow fading measured
		// the more often).
		const double pl = std::exp(score[kIdxLetters] - score[idx]) / sum;
		const double pf = std::exp(score[kIdxFigures] - score[idx]) / sum;
		if (pl >= kShiftShare)
			o->char_num = 14;
		else if (pf >= kShiftShare)
			o->char_num = 15;
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
