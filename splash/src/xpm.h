// XPM reader: paints an XPM pixmap, given as its array of text lines,
// into a caller's pixel buffer.
//
// Takes: the lines of an XPM image (header "columns rows colors idwidth",
// colour lines "<key>\tc #RRGGBB" or "<key>\tc None", then the pixel
// rows), a buffer `width` pixels wide at `depth` bytes per pixel (1, 2
// or 3) with room for the image's rows.
// Gives: the image in the buffer's top-left corner; colours are 24-bit
// numbers 0xRRGGBB ("None" and unknown pixel keys are 0).  Columns beyond
// `width` are left out; every row the image has is painted.
#ifndef SPLASH_XPM_H
#define SPLASH_XPM_H

#include "hashmap.h"

#include <cstddef>
#include <cstdint>

// Paints the image; a malformed header paints nothing.  `height` is not
// used: the image's row count decides how many buffer rows are painted.
// The array may end early with a null line.
void ReadXPMImage(const char *const *xpm_buffer, unsigned char *dest, int width, int height,
                  int depth);

// Colour number of a pixel key in a colour table made by ReadXPMImage,
// through a one-entry cache; 0 for a key not in the table.
uint32_t get_color(hashmap_t colormap, const char *key);

// Position of the first colour keyword ("c ", "g ", "g4 ", "m ", "b ",
// "s ", tried in that order) in the text of a colour line, or null.  A
// keyword counts only where the character before it is not a blank;
// `before` stands for the character preceding `text`.
const char *ParseXPMColor(const char *text, char before = '\0');

// Copies at most `length` characters of `source` (fewer at its end) and
// terminates the copy; `destination` holds length + 1 characters.
char *CopyXPMColor(char *destination, const char *source, size_t length);

#endif
