// Line charts as PNG pictures, drawn with the 5 x 7 font.
//
// Takes: a chart (title, axis labels, axis ranges and tick steps, series of
// (x, y) points with a name) and a picture size in pixels.  Gives: the
// PNG bytes of an 8-bit palette image, white background, grid, axes with
// numbered ticks, each series a line with square markers, and a legend in
// rows under the chart.
// Points with a NaN y leave a gap in their line.  Text is drawn in
// capitals.
#ifndef PLOTLIB_PLOT_H
#define PLOTLIB_PLOT_H

#include <cstdint>
#include <string>
#include <vector>

#include "png.h"

namespace plot {

struct series {
	std::string name;
	std::vector<double> x, y;
};

struct chart {
	std::string title, xlabel, ylabel;
	double xmin = 0, xmax = 1, xstep = 0.1;
	double ymin = 0, ymax = 1, ystep = 0.1;
	std::vector<series> lines;
	// Optional horizontal reference line (e.g. a 1 % limit); NaN for none.
	double yref = __builtin_nan("");
};

// An indexed-colour canvas: 0 white, 1 black, 2 grid grey, 3 and up the
// series colours.
class canvas {
public:
	canvas(int w, int h);
	int width() const { return w_; }
	int height() const { return h_; }
	void set(int x, int y, uint8_t colour);
	uint8_t at(int x, int y) const;
	void fill(int x0, int y0, int x1, int y1, uint8_t colour);
	// A line of `thick` pixels (square brush) from (x0, y0) to (x1, y1).
	void line(int x0, int y0, int x1, int y1, uint8_t colour, int thick = 1);
	// Text with its top-left corner at (x, y), dots of scale x scale pixels;
	// `up` turns it a quarter left (read bottom to top).
	void text(int x, int y, const std::string &s, int scale, uint8_t colour, bool up = false);
	static int text_width(const std::string &s, int scale);
	std::vector<uint8_t> to_png(png::Deflate mode) const;

private:
	int w_, h_;
	std::vector<uint8_t> px_;
};

// Number of series colours the palette has; further series reuse them.
constexpr int kSeriesColours = 6;

canvas draw(const chart &c, int width, int height);

// Tick label of v for a tick step: as many decimals as the step needs.
std::string tick_label(double v, double step);

} // namespace plot

#endif
