// Seven-unit alphabet and DX/RX character decoding.
//
// Takes the seven-bit groups of the bit sampler; first copies (odd group
// numbers) go into a four-entry ring, each repetition is combined with the
// first copy sent five positions earlier.  Gives a character, '*' for an
// error, 's' for the phasing pair, or 0 when nothing is delivered.
#ifndef SKERRIN_DECODE_CHAR_H
#define SKERRIN_DECODE_CHAR_H

#include "bit_sample.h"

typedef struct sTelegraphAlphabet {
	int combination;
	char lettercase;
	char figurecase;
	int sevenbit[7];
} TelegraphAlphabet;

constexpr int ALPHABET_SIZE = 35;
// The case shifts as the decoders deliver them; the same numbers name the
// case a decoder is in (its char_num).
constexpr char LETTERS_SHIFT = 14, FIGURES_SHIFT = 15;
extern const TelegraphAlphabet Alphabet[ALPHABET_SIZE];

int decode_sevenunit(SevenUnit *unit);
char decode_comb_num(int comb_num, int char_num);
char decode_char(struct sample_bit_obj *bit_obj, int samp_no);

#endif
