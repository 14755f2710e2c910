// Enhanced chain, the message's fixed parts as a prior on the character
// decision.
//
// In: every character enh_char delivers (as message assembly sees them:
// marks, spaces and '*' included, case shifts not) and, before each
// decision, the pattern scores (Q8 nats, ENH_PHASING_PAIR + 1 of them) with
// the current case (14 letters, 15 figures).  Follows where the text
// stands as message assembly will: after "ZCZC" the identifier B1 B2 B3 B4
// (B1 and B2 letters A-Z, the station letter too, as the filters take it;
// then a figures shift and two figures; spaces before it are skipped, as
// are the marks 'a' 'b' 'c' 'r' 's').
// Out: scores lowered for the patterns that cannot stand at the
// identifier's next position, and raised for the letter that completes
// "ZCZC" or "NNNN" once two or three of it have come after a character
// that is not a letter or figure.  An identifier character of the wrong
// form (a mark or space after B1 among them: it stands for a character
// lost) becomes '*', and so does B4 when the likelihood shares of the
// identifier's decisions multiplied fall below 0.6: assembly then drops
// that message ("Message id corropted") rather than queue an identifier
// that was never sent.
// Integers only.
#ifndef SKERRIN_ENH_FORM_H
#define SKERRIN_ENH_FORM_H

#include <cstdint>

struct enh_form_obj {
	char win[4]; // the last four characters delivered, oldest first
	int id_pos;  // identifier characters delivered since "ZCZC" (0..3), -1 outside
	int32_t id_share; // the product of the identifier's decisions' likelihood shares so far, Q16
};

void enh_form_reset(enh_form_obj *f);
// Adds the fixed parts' prior to the scores of the next decision.
void enh_form_prior(const enh_form_obj *f, int char_num, int32_t *score);
// Takes decided `ch` (a case shift too) with its likelihood share (Q16)
// and gives the character to deliver: '*' for an identifier character of
// the wrong form, and for the last one when the identifier's decisions
// together are too doubtful.  Follows what it gives.
char enh_form_deliver(enh_form_obj *f, char ch, int32_t share);

#endif
