// Enhanced chain, character decision: maximum likelihood over the code.
//
// In: seven-bit groups of soft evidence from enh_clock (per bit d = mark -
// space energy, e = mark + space energy), first copies and repetitions
// alternating.  First copies wait in a four-entry ring; each repetition is
// decided together with the first copy sent five positions earlier, once a
// character, in integers: each bit of each copy becomes the log-likelihood
// ratio of a 1 (Q8 nats) for non-coherent detection (from the two
// tones' energies, the tone's energy of this character and the noise
// energy followed over a few characters, less the side lobe's share of the
// other tone); of the 35 valid patterns (four 1s, three 0s) the one whose
// 1 bits carry the most summed ratio of both copies wins, and so does the
// phasing pair (phasing signal 1 as first copy, phasing signal 2 as
// repetition) when it fits better; right after a text character the idle
// and phasing signals start at a disadvantage, and the message's fixed
// parts add their prior (enh_form; an identifier character of the wrong
// form is '*').  When the winner's share of the
// likelihood of all patterns is too small to trust, the character is '*';
// its likeliest reading still moves the case shift.  In figures case,
// once a letters shift may have been missed (it had at least 2^-16 of the
// likelihood since the last shift read), a figure that text seldom holds
// is read in letters and the case returns to letters.  ln I0 comes from a
// table (Q8, steps of 1/16 up to 64, interpolated; the asymptote beyond),
// square roots are integer ones, and the shares come from two exponential
// tables, so the board's processor does no floating point per character.  Out: the same
// characters, marks, case shifts and echo as the specified character
// decoder ('s' for the phasing pair, 0 for first copies and shifts).
#ifndef SKERRIN_ENH_CHAR_H
#define SKERRIN_ENH_CHAR_H

#include <cstdint>

#include "enh_form.h"

constexpr int ENH_PHASING_PAIR = 35; // codebook index of the phasing pair
// Codebook indices (Alphabet order): the last letter, the shifts, space.
constexpr int ENH_IDX_Z = 25, ENH_IDX_LETTERS = 28, ENH_IDX_FIGURES = 29, ENH_IDX_SPACE = 30;

struct enh_char_obj {
	int32_t dx_d[4][7]; // first copies waiting for their repetition
	int32_t dx_e[4][7];
	int ptr;
	int char_num;  // 14 letters, 15 figures
	int dbg_print; // echo each character to standard output
	int32_t min_posterior; // likelihood share below this gives '*', Q16
	int64_t noise;         // mean noise energy of a bit in one correlator, Q4
	int32_t posterior;     // the last character's likelihood share, Q16
	int in_text;       // the last character was text, not an idle or phasing signal
	enh_form_obj form; // where the text stands: the fixed parts' prior
	int case_doubt;    // in figures case a letters shift may have been missed since the last shift read
};

// Index of the best-fitting pattern (0..34, or ENH_PHASING_PAIR) for the
// evidence of a first copy and its repetition (log-likelihood ratios of a
// 1, Q8); `margin` gets the lead over the runner-up.
int enh_codebook_pick(const int32_t dx[7], const int32_t rx[7], int32_t *margin);
// The fit of every pattern (and, last, the phasing pair): its 1 bits'
// summed evidence of both copies.
void enh_codebook_scores(const int32_t dx[7], const int32_t rx[7], int32_t score[ENH_PHASING_PAIR + 1]);
// ln I0(x) in Q8 for x in Q8 (x >= 0).
int32_t enh_log_i0(int64_t x_q4);

void enh_char_init(enh_char_obj *o, int dbg_print);
// Forgets first copies (a new lock) and returns to letters case.
void enh_char_reset(enh_char_obj *o);
// One group; `first_copy` non-zero for a first copy.
char enh_char_decide(enh_char_obj *o, const int32_t d[7], const int32_t e[7], int first_copy);

#endif
