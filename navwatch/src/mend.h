// Mending a repeated message from its copies.  Takes the texts of two or
// more copies of one message (as received, '*' for each character lost);
// aligns each copy with the best one character by character (lost or extra
// characters allowed) and fills each '*' of the best copy from the copies
// that have a character there: with three or more copies the majority
// decides every position, with two the other copy fills the gaps.
// Gives the mended text and its error rate in percent.  Pure; bounded work
// (the alignment keeps to a band around the diagonal).
#ifndef NAVWATCH_MEND_H
#define NAVWATCH_MEND_H

#include <string>
#include <vector>

struct mend_result {
	std::string text;
	double error_pct = 0;
	int filled = 0;  // positions whose character changed
	int base = 0;    // index of the copy the text was built on
};

// copies oldest first; at least one.  The newest copy wins ties.
mend_result mend_copies(const std::vector<std::string> &copies);

// '*' share of text in percent (0 for an empty text).
double mend_error_pct(const std::string &text);

#endif
