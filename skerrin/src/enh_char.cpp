// Enhanced chain, character decision: see enh_char.h.
#include "enh_char.h"

#include <cstdio>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <climits>

#include "decode_char.h"

namespace {

constexpr int kPhasing1 = 34; // 'c', sent as first copy while phasing
constexpr int kPhasing2 = 33; // 'a', in the repetition slots
// A character whose likelihood share among the patterns is below this is
// marked as an error rather than guessed.  A mark costs as much as an
// error in the error rate, and one in the header or in "NNNN" loses the
// message: stricter shares mark more wrong characters but cost messages.
constexpr int32_t kMinPosterior = 65536 * 3 / 5;
// A tone's neighbour's correlator sees 2 % of it (tones 170 Hz apart over
// a 17-sample window, sinc^2(1.69)): in hundredths of the energy.
constexpr int64_t kLeakPercent = 2;
constexpr int kNoiseMemory = 4; // characters
// In figures case a letters shift with at least 2^-16 of the likelihood
// may have been missed: until the next shift read, a figure that text
// seldom holds (or none: 'n') is then read in letters.  Case cascades
// after a lost letters shift were over a quarter of the unmarked errors at
// -1 dB; a share of 1/16 or two characters' doubt caught fewer.
constexpr const char *kRareFigures = "n#v()`=+?";
// Within text, idle and phasing signals (and the unused pattern) do not
// follow a text character: there they start with a likelihood e^1.5 times
// smaller, so a character misread as one of them (and so lost from the
// text) more often stays itself or is marked.
constexpr int kIdxFirstControl = 31; // the unused pattern, beta, alpha, phasing 1, the pair
constexpr int32_t kControlPrior = 384; // 1.5 nats, Q8
// Patterns further than this behind the winner add nothing to the shares
// (e^-40 is 4e-18).
constexpr int32_t kFarBehind = 40 * 256;
// Arguments of ln I0 beyond the table (Q4) take the asymptote, and the
// largest is capped: a bit that strong is certain either way, and the
// sums of 14 ratios stay within 32 bits.
constexpr int kTableEnd = 64 * 16;              // entries, 1/16 apart
constexpr int64_t kMaxArg = int64_t(16384) * 256; // Q8

// ln I0 at steps of 1/16 (Q8), ln(1 + j/256) (Q8), e^-a for whole a (Q24)
// and e^(-b/256) (Q16): made once, in floating point, at start-up.
struct tables {
	int32_t log_i0[kTableEnd + 1];
	int32_t log_mant[257];
	int64_t exp_whole[41];
	int32_t exp_frac[256];
	tables()
	{
		for (int i = 0; i <= kTableEnd; i++) {
			// I0 by its series: enough terms for x up to 64 in double.
			const double x = i / 16.0, q = x * x / 4;
			double term = 1, sum = 1;
			for (int k = 1; k < 400 && term > sum * 1e-17; k++) {
				term *= q / (double(k) * k);
				sum += term;
			}
			log_i0[i] = int32_t(std::lround(256 * std::log(sum)));
		}
		for (int j = 0; j <= 256; j++)
			log_mant[j] = int32_t(std::lround(256 * std::log(1 + j / 256.0)));
		for (int a = 0; a <= 40; a++)
			exp_whole[a] = std::llround(16777216.0 * std::exp(-a));
		for (int b = 0; b < 256; b++)
			exp_frac[b] = int32_t(std::lround(65536.0 * std::exp(-b / 256.0)));
	}
};

const tables &tab()
{
	static const tables t;
	return t;
}

// ln of a positive integer, Q8.
int32_t log_q8(uint64_t v)
{
	int e = 63 - __builtin_clzll(v);
	// Mantissa in 1/256 steps, interpolated no further: ln's slope below
	// 1/256 per step keeps the error under 0.004.
	const uint64_t m = e >= 8 ? (v >> (e - 8)) & 255 : (v << (8 - e)) & 255;
	return int32_t((int64_t(e) * 45426 + 128) / 256 + tab().log_mant[m]); // ln 2 = 45426/65536
}

uint64_t isqrt64(uint64_t v)
{
	uint64_t r = 0, b = uint64_t(1) << 62;
	while (b > v)
		b >>= 2;
	while (b) {
		if (v >= r + b) {
			v -= r + b;
			r = (r >> 1) + b;
		} else {
			r >>= 1;
		}
		b >>= 2;
	}
	return r;
}

// e^(-d/256) for d >= 0 (Q8 nats), Q24.
int64_t exp_neg(int32_t d)
{
	const int a = d >> 8;
	if (a > 40)
		return 0;
	return (tab().exp_whole[a] * tab().exp_frac[d & 255]) >> 16;
}

// Log-likelihood ratio of a 1 bit from the energies of the two tones
// (non-coherent detection of a tone of energy s in noise of energy n per
// correlator): ln I0(2 sqrt(s Em) / n) - ln I0(2 sqrt(s Es) / n), the
// arguments in Q8: 512 sqrt(s E) / n.
int32_t bit_llr(int64_t d, int64_t e, int64_t s, int64_t n)
{
	const int64_t em = std::max<int64_t>((e + d) / 2, 0), es = std::max<int64_t>((e - d) / 2, 0);
	auto arg = [&](int64_t energy) {
		return std::min<int64_t>(int64_t(isqrt64(uint64_t(s) * uint64_t(energy))) * 512 / n, kMaxArg);
	};
	return enh_log_i0(arg(em)) - enh_log_i0(arg(es));
}

int32_t ones_sum(int idx, const int32_t v[7])
{
	int32_t s = 0;
	for (int j = 0; j < 7; j++)
		if (Alphabet[idx].sevenbit[j])
			s += v[j];
	return s;
}

} // namespace

int32_t enh_log_i0(int64_t x)
{
	if (x < kTableEnd * 16) {
		// Between two entries 1/16 apart, linearly.
		const int32_t *t = tab().log_i0 + (x >> 4);
		return t[0] + int32_t(((t[1] - t[0]) * (x & 15)) >> 4);
	}
	// x - ln(2 pi x) / 2 + 1 / (8 x), x = x_q8 / 256: ln(2 pi / 256) is
	// -3.707 (-949 in Q8).
	return int32_t(x - (log_q8(uint64_t(x)) - 949) / 2 + 8192 / x);
}

void enh_codebook_scores(const int32_t dx[7], const int32_t rx[7], int32_t score[ENH_PHASING_PAIR + 1])
{
	int32_t both[7];
	for (int j = 0; j < 7; j++)
		both[j] = dx[j] + rx[j];
	for (int i = 0; i < ALPHABET_SIZE; i++)
		score[i] = ones_sum(i, both);
	score[ENH_PHASING_PAIR] = ones_sum(kPhasing1, dx) + ones_sum(kPhasing2, rx);
}

int enh_codebook_pick(const int32_t dx[7], const int32_t rx[7], int32_t *margin)
{
	int32_t score[ENH_PHASING_PAIR + 1];
	enh_codebook_scores(dx, rx, score);
	int best = 0;
	int32_t m1 = INT32_MIN, m2 = INT32_MIN;
	for (int i = 0; i <= ENH_PHASING_PAIR; i++) {
		const int32_t m = score[i];
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
	enh_form_reset(&o->form);
}

void enh_char_reset(enh_char_obj *o)
{
	std::memset(o->dx_d, 0, sizeof o->dx_d);
	std::memset(o->dx_e, 0, sizeof o->dx_e);
	o->ptr = 0;
	o->char_num = 14;
	o->in_text = 0;
	o->case_doubt = 0;
	enh_form_reset(&o->form);
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
	int64_t energy = 0, weaker = 0;
	for (int j = 0; j < 7; j++) {
		const int64_t ed[2] = {o->dx_e[k][j], e[j]};
		const int64_t ad[2] = {std::abs(int64_t(o->dx_d[k][j])), std::abs(int64_t(d[j]))};
		for (int c = 0; c < 2; c++) {
			energy += ed[c];
			// The tone not sent carries noise and, through the matched
			// filter's side lobe, about 2 % of the sent one (hundredths).
			weaker += 50 * (ed[c] - ad[c]) - kLeakPercent * (ed[c] + ad[c]) / 2;
		}
	}
	// Followed over a few characters (Q4): in a fade the level changes
	// within a second, and the side lobe's share changes with it.
	const int64_t nc = std::max<int64_t>(weaker / (100 * 14), 1) * 16;
	o->noise = o->noise > 0 ? o->noise + (nc - o->noise) / kNoiseMemory : nc;
	// Per bit and copy the log-likelihood ratio of a 1, the tone's energy
	// taken from this character alone.
	const int64_t n = std::max({o->noise / 16, energy / 1000000, int64_t(1)});
	const int64_t s = std::max(energy / 14 - 2 * n, std::max<int64_t>(n / 20, 1));
	int32_t dx[7], rx[7];
	for (int j = 0; j < 7; j++) {
		dx[j] = bit_llr(o->dx_d[k][j], o->dx_e[k][j], s, n);
		rx[j] = bit_llr(d[j], e[j], s, n);
	}
	int32_t score[ENH_PHASING_PAIR + 1];
	enh_codebook_scores(dx, rx, score);
	if (o->in_text) {
		for (int i = kIdxFirstControl; i <= ENH_PHASING_PAIR; i++)
			score[i] -= kControlPrior;
	}
	enh_form_prior(&o->form, o->char_num, score);
	int idx = 0;
	for (int i = 1; i <= ENH_PHASING_PAIR; i++)
		if (score[i] > score[idx])
			idx = i;
	// The winner's share of the likelihood of all patterns (Q24 sums).
	int64_t sum = 0;
	for (int i = 0; i <= ENH_PHASING_PAIR; i++)
		if (score[idx] - score[i] < kFarBehind)
			sum += exp_neg(score[idx] - score[i]);
	o->posterior = int32_t((int64_t(1) << 40) / sum);

	o->in_text = idx < kIdxFirstControl;
	char ch;
	if (o->posterior < o->min_posterior) {
		// Too close to trust; the case changes only when a shift is
		// likelier than all other patterns together: a lost shift garbles
		// what follows, and so does a false one (in slow fading measured
		// the more often).
		if (2 * exp_neg(score[idx] - score[ENH_IDX_LETTERS]) >= sum)
			o->char_num = 14;
		else if (2 * exp_neg(score[idx] - score[ENH_IDX_FIGURES]) >= sum)
			o->char_num = 15;
		ch = '*';
	} else if (idx == ENH_PHASING_PAIR) {
		ch = 's';
	} else {
		ch = decode_comb_num(idx, o->char_num);
		if (o->case_doubt && o->char_num == 15 && idx <= ENH_IDX_Z && std::strchr(kRareFigures, ch)) {
			// A letters shift may have been missed, and a figure that text
			// seldom holds says it was.
			o->char_num = 14;
			ch = decode_comb_num(idx, o->char_num);
		} else if (ch == 'n') {
			o->char_num = 14;
			ch = '*';
		}
	}
	if (ch == LETTERS_SHIFT || ch == FIGURES_SHIFT)
		o->case_doubt = 0;
	else if (o->char_num == 15 && (exp_neg(score[idx] - score[ENH_IDX_LETTERS]) << 16) >= sum)
		o->case_doubt = 1;
	ch = enh_form_deliver(&o->form, ch, o->posterior);
	if (o->dbg_print) {
		putchar(ch == LETTERS_SHIFT ? 'l' : ch == FIGURES_SHIFT ? 'f' : ch);
		fflush(stdout);
	}
	if (ch == FIGURES_SHIFT) {
		o->char_num = 15;
		return 0;
	}
	if (ch == LETTERS_SHIFT) {
		o->char_num = 14;
		return 0;
	}
	return ch;
}
