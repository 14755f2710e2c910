// Seven-unit alphabet and DX/RX character decoding.
//
// In: each seven-bit group completed by the bit sampler (bit averages,
// negative reads as 1) and its number since the last synchronisation (odd:
// first copy, even: repetition).  Out: the combined character, '*' for an
// error, 's' for the phasing pair, 0 when nothing is delivered (first copies
// and case shifts).  With the echo switch every combined character is also
// written to standard output at once.
#include "decode_char.h"

#include <cstdio>

namespace {

constexpr int kLettersCase = 14;
constexpr int kFiguresCase = 15;
// Both copies valid but different; shares its value with '#'.
constexpr int kMismatch = 35;
constexpr int kPhasingA = 33;
constexpr int kPhasingC = 34;

} // namespace

// Every pattern has four 1s and three 0s, in order of reception.
const TelegraphAlphabet Alphabet[ALPHABET_SIZE] = {
	{1, 'A', '-', {1, 1, 1, 0, 0, 0, 1}},
	{2, 'B', '?', {0, 1, 0, 0, 1, 1, 1}},
	{3, 'C', ':', {1, 0, 1, 1, 1, 0, 0}},
	{4, 'D', '#', {1, 1, 0, 0, 1, 0, 1}},
	{5, 'E', '3', {0, 1, 1, 0, 1, 0, 1}},
	{6, 'F', 'n', {1, 1, 0, 1, 1, 0, 0}},
	{7, 'G', 'n', {1, 0, 1, 0, 1, 1, 0}},
	{8, 'H', 'n', {1, 0, 0, 1, 0, 1, 1}},
	{9, 'I', '8', {1, 0, 1, 1, 0, 0, 1}},
	{10, 'J', 'v', {1, 1, 1, 0, 1, 0, 0}},
	{11, 'K', '(', {0, 1, 1, 1, 1, 0, 0}},
	{12, 'L', ')', {1, 0, 1, 0, 0, 1, 1}},
	{13, 'M', '.', {1, 0, 0, 1, 1, 1, 0}},
	{14, 'N', ',', {1, 0, 0, 1, 1, 0, 1}},
	{15, 'O', '9', {1, 0, 0, 0, 1, 1, 1}},
	{16, 'P', '0', {1, 0, 1, 1, 0, 1, 0}},
	{17, 'Q', '1', {0, 1, 1, 1, 0, 1, 0}},
	{18, 'R', '4', {1, 0, 1, 0, 1, 0, 1}},
	{19, 'S', '`', {1, 1, 0, 1, 0, 0, 1}},
	{20, 'T', '5', {0, 0, 1, 0, 1, 1, 1}},
	{21, 'U', '7', {0, 1, 1, 1, 0, 0, 1}},
	{22, 'V', '=', {0, 0, 1, 1, 1, 1, 0}},
	{23, 'W', '2', {1, 1, 1, 0, 0, 1, 0}},
	{24, 'X', '/', {0, 1, 0, 1, 1, 1, 0}},
	{25, 'Y', '6', {1, 1, 0, 1, 0, 1, 0}},
	{26, 'Z', '+', {1, 1, 0, 0, 0, 1, 1}},
	{27, 'r', 'r', {0, 0, 0, 1, 1, 1, 1}},
	{28, '\n', '\n', {0, 0, 1, 1, 0, 1, 1}},
	{29, LETTERS_SHIFT, LETTERS_SHIFT, {0, 1, 0, 1, 1, 0, 1}},
	{30, FIGURES_SHIFT, FIGURES_SHIFT, {0, 1, 1, 0, 1, 1, 0}},
	{31, ' ', ' ', {0, 0, 1, 1, 1, 0, 1}},
	{32, 'n', 'n', {0, 1, 0, 1, 0, 1, 1}},
	{33, 'b', 'b', {1, 1, 0, 0, 1, 1, 0}},
	{34, 'a', 'a', {1, 1, 1, 1, 0, 0, 0}},
	{35, 'c', 'c', {0, 1, 1, 0, 0, 1, 1}},
};

int decode_sevenunit(SevenUnit *unit)
{
	int bits[7];
	for (int j = 0; j < 7; j++)
		bits[j] = unit->bits[j] < 0 ? 1 : 0;
	for (int k = 0; k < ALPHABET_SIZE; k++) {
		int j = 0;
		while (j < 7 && Alphabet[k].sevenbit[j] == bits[j])
			j++;
		if (j == 7)
			return k;
	}
	return -1;
}

char decode_comb_num(int comb_num, int char_num)
{
	if (comb_num < 0 || comb_num >= ALPHABET_SIZE)
		return '*';
	return char_num == kLettersCase ? Alphabet[comb_num].lettercase
					: Alphabet[comb_num].figurecase;
}

// A table look-up in the current case; a combination with no character in
// it is an error and falls back to letters.
static int decode_lookup(struct sample_bit_obj *bit_obj, int number)
{
	const char c = decode_comb_num(number, bit_obj->char_num);
	if (c == 'n') {
		bit_obj->char_num = kLettersCase;
		return '*';
	}
	return static_cast<unsigned char>(c);
}

char decode_char(struct sample_bit_obj *bit_obj, int samp_no)
{
	(void)samp_no; // handed in by the caller for diagnostics only
	if (bit_obj->bytcnt % 2 != 0) {
		// A first copy: keep it until its repetition comes.
		bit_obj->charsbuf[bit_obj->charsptr] = decode_sevenunit(&bit_obj->unit);
		bit_obj->charsptr = (bit_obj->charsptr + 1) % 4;
		return 0;
	}

	const int rx = decode_sevenunit(&bit_obj->unit);
	// The third most recent first copy was sent five positions earlier.
	const int dx = bit_obj->charsbuf[(bit_obj->charsptr + 1) % 4];
	int ch;
	if (rx == kPhasingA && dx == kPhasingC)
		ch = 's';
	else if (rx == dx)
		ch = decode_lookup(bit_obj, rx);
	else if (rx == -1)
		ch = decode_lookup(bit_obj, dx);
	else if (dx == -1)
		ch = decode_lookup(bit_obj, rx);
	else
		ch = kMismatch;

	if (bit_obj->dbg_print) {
		int shown = ch;
		if (ch == LETTERS_SHIFT)
			shown = 'l';
		else if (ch == FIGURES_SHIFT)
			shown = 'f';
		putchar(shown);
		fflush(stdout);
	}

	switch (ch) {
	case FIGURES_SHIFT:
		bit_obj->char_num = kFiguresCase;
		return 0;
	case kMismatch:
		return '*';
	case LETTERS_SHIFT:
		bit_obj->char_num = kLettersCase;
		return 0;
	default:
		return static_cast<char>(ch);
	}
}
