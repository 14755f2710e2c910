// Enhanced chain, the message's fixed parts: see enh_form.h.
#include "enh_form.h"

#include <cstring>

#include "decode_char.h"
#include "enh_char.h"
#include "messages.h"

namespace {

constexpr int kIdxC = 2, kIdxN = 13;
// A pattern that cannot stand at the identifier's next position starts
// with a likelihood e^6 times smaller: a doubtful character is read as one
// of the right form more often, or else marked (e^3 kept fewer messages
// at -1 dB, e^10 no more).
constexpr int32_t kIdPrior = 1536; // 6 nats, Q8
// The letter completing "ZCZC" or "NNNN" starts with a likelihood e^3
// times larger: a doubtful one there would lose the message.
constexpr int32_t kFixedPrior = 768; // 3 nats, Q8
// The identifier is queued only when its decisions' likelihood shares
// multiplied reach what one character needs (enh_char's 0.6): four
// doubtful characters that pass one by one read a never-sent identifier
// in fading.  0.8 kept fewer messages and no fewer never-sent ones.
constexpr int32_t kMinIdShare = 65536 * 3 / 5;

// Not part of a word: nothing yet, a mark, a space, a line feed, '*' or
// punctuation.
bool is_anchor(char c)
{
	return !((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
}

// How much of `group` (four times one letter, or "ZCZC") the last
// characters delivered hold, counted only from an anchor: 0, 2 or 3.
int progress(const char win[4], const char *group)
{
	if (is_anchor(win[0]) && memcmp(win + 1, group, 3) == 0)
		return 3;
	if (is_anchor(win[1]) && memcmp(win + 2, group, 2) == 0)
		return 2;
	return 0;
}

bool is_digit_pattern(int idx)
{
	const char f = Alphabet[idx].figurecase;
	return f >= '0' && f <= '9';
}

// Whether pattern `idx` may come at identifier position `pos` (0..3) in
// case `char_num`: a redundant shift is harmless, spaces only before B1.
bool fits(int idx, int pos, int char_num)
{
	const bool letters = char_num == LETTERS_SHIFT;
	if (idx == ENH_IDX_LETTERS)
		return pos < 2;
	if (idx == ENH_IDX_FIGURES)
		return pos >= 2;
	if (idx == ENH_IDX_SPACE)
		return pos == 0;
	if (idx > ENH_IDX_Z)
		return false;
	if (pos < 2)
		return letters;
	return !letters && is_digit_pattern(idx);
}

} // namespace

void enh_form_reset(enh_form_obj *f)
{
	std::memset(f->win, 0, sizeof f->win);
	f->id_pos = -1;
	f->id_share = 65536;
}

void enh_form_prior(const enh_form_obj *f, int char_num, int32_t *score)
{
	if (f->id_pos >= 0) {
		for (int i = 0; i <= ENH_PHASING_PAIR; i++)
			if (!fits(i, f->id_pos, char_num))
				score[i] -= kIdPrior;
		return;
	}
	if (char_num != LETTERS_SHIFT)
		return;
	if (progress(f->win, "ZCZ") >= 2)
		score[f->win[3] == 'Z' ? kIdxC : ENH_IDX_Z] += kFixedPrior;
	else if (progress(f->win, "NNN") >= 2)
		score[kIdxN] += kFixedPrior;
}

char enh_form_deliver(enh_form_obj *f, char ch, int32_t share)
{
	if (f->id_pos >= 0)
		f->id_share = int32_t((int64_t(f->id_share) * share) >> 16);
	if (ch == LETTERS_SHIFT || ch == FIGURES_SHIFT)
		return ch;
	// Assembly skips marks and spaces; before B1 one may stand for the
	// space, after it one stands for an identifier character lost.
	if (f->id_pos >= 0 && ch != '*' && !(f->id_pos == 0 && (ch == ' ' || message_is_mark(ch)))) {
		const bool ok = f->id_pos < 2 ? ch >= 'A' && ch <= 'Z' : ch >= '0' && ch <= '9';
		if (!ok || (f->id_pos == 3 && f->id_share < kMinIdShare))
			ch = '*';
	}
	std::memmove(f->win, f->win + 1, 3);
	f->win[3] = ch;
	if (memcmp(f->win, "ZCZC", 4) == 0) {
		f->id_pos = 0;
		f->id_share = 65536;
		return ch;
	}
	if (f->id_pos < 0 || message_is_mark(ch) || ch == ' ')
		return ch;
	// A '*' drops the message; after B4 the identifier is complete.
	f->id_pos = ch == '*' || f->id_pos == 3 ? -1 : f->id_pos + 1;
	if (memcmp(f->win, "NNNN", 4) == 0 || memcmp(f->win, "aaaa", 4) == 0)
		f->id_pos = -1;
	return ch;
}
