// A 5 x 7 dot font: capitals, digits and the punctuation of plot labels and
// splash texts.  Each glyph is seven rows of five dots, bit 4 the left
// column.
#ifndef PLOTLIB_FONT5X7_H
#define PLOTLIB_FONT5X7_H

#include <array>
#include <cstdint>

namespace font5x7 {

struct glyph {
	char ch;
	std::array<uint8_t, 7> rows;
};

// The glyph of ch, or nullptr when the font has none (lower case letters
// are not in it: callers that allow them map them to capitals).
const glyph *find(char ch);

} // namespace font5x7

#endif
