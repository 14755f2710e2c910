// Line charts on an indexed-colour canvas.
#include "plot.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "font5x7.h"

namespace plot {

namespace {

constexpr uint8_t kWhite = 0, kBlack = 1, kGrid = 2, kFirstSeries = 3;

// White, black, grid grey, then well-separated series colours.
const uint8_t kPalette[] = {
	255, 255, 255, 0,   0,   0,   215, 215, 215, 31,  90,  180, 214, 39, 40,
	44,  160, 44,  255, 127, 14,  148, 103, 189, 23,  190, 207,
};

} // namespace

canvas::canvas(int w, int h) : w_(w), h_(h), px_(size_t(w) * size_t(h), kWhite) {}

void canvas::set(int x, int y, uint8_t colour)
{
	if (x >= 0 && x < w_ && y >= 0 && y < h_)
		px_[size_t(y) * size_t(w_) + size_t(x)] = colour;
}

uint8_t canvas::at(int x, int y) const
{
	return px_[size_t(y) * size_t(w_) + size_t(x)];
}

void canvas::fill(int x0, int y0, int x1, int y1, uint8_t colour)
{
	for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
		for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x)
			set(x, y, colour);
}

void canvas::line(int x0, int y0, int x1, int y1, uint8_t colour, int thick)
{
	// Bresenham, stamping a square brush at every step.
	const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
	const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
	const int lo = -(thick - 1) / 2, hi = thick / 2;
	int err = dx + dy;
	for (;;) {
		fill(x0 + lo, y0 + lo, x0 + hi, y0 + hi, colour);
		if (x0 == x1 && y0 == y1)
			break;
		const int e2 = 2 * err;
		if (e2 >= dy) {
			err += dy;
			x0 += sx;
		}
		if (e2 <= dx) {
			err += dx;
			y0 += sy;
		}
	}
}

int canvas::text_width(const std::string &s, int scale)
{
	return s.empty() ? 0 : int(s.size()) * 6 * scale - scale;
}

void canvas::text(int x, int y, const std::string &s, int scale, uint8_t colour, bool up)
{
	for (size_t i = 0; i < s.size(); ++i) {
		const char ch = char(std::toupper(static_cast<unsigned char>(s[i])));
		const font5x7::glyph *g = font5x7::find(ch);
		if (!g)
			g = font5x7::find('*');
		const int advance = int(i) * 6 * scale;
		for (int row = 0; row < 7; ++row)
			for (int col = 0; col < 5; ++col) {
				if (!(g->rows[row] & (0x10 >> col)))
					continue;
				// Turned: the text's baseline runs upwards from (x, y).
				const int px = up ? x + row * scale : x + advance + col * scale;
				const int py = up ? y - advance - col * scale - (scale - 1) : y + row * scale;
				fill(px, py, px + scale - 1, py + scale - 1, colour);
			}
	}
}

std::vector<uint8_t> canvas::to_png(png::Deflate mode) const
{
	// Filter "Up": rows that repeat the one above become zeros.
	std::vector<uint8_t> rows;
	rows.reserve(size_t(h_) * (size_t(w_) + 1));
	for (int y = 0; y < h_; ++y) {
		rows.push_back(2);
		for (int x = 0; x < w_; ++x)
			rows.push_back(uint8_t(at(x, y) - (y > 0 ? at(x, y - 1) : 0)));
	}
	return png::encode(w_, h_, png::palette, rows, mode,
			   std::vector<uint8_t>(std::begin(kPalette), std::end(kPalette)));
}

std::string tick_label(double v, double step)
{
	int decimals = 0;
	for (double s = std::fabs(step); decimals < 6 && std::fabs(s - std::round(s)) > 1e-9 * std::max(1.0, s);
	     s *= 10)
		decimals++;
	if (std::fabs(v) < std::fabs(step) * 1e-9)
		v = 0; // no "-0"
	char buf[64];
	std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
	return buf;
}

canvas draw(const chart &c, int width, int height)
{
	canvas cv(width, height);
	const int scale = 2, ch_h = 7 * scale;
	// The legend runs in rows under the axis label, as many entries to a
	// row as fit.
	const int entry_gap = 24, sample_w = 34;
	std::vector<int> row_of(c.lines.size());
	int legend_rows = 0;
	for (size_t s = 0, used = 0; s < c.lines.size(); ++s) {
		const int w = sample_w + 8 + canvas::text_width(c.lines[s].name, scale) + entry_gap;
		if (legend_rows == 0 || (used > 0 && int(used) + w > width - 48)) {
			legend_rows++;
			used = 0;
		}
		row_of[s] = legend_rows - 1;
		used += size_t(w);
	}
	const int legend_row_h = ch_h + 10;
	const int legend_h = legend_rows * legend_row_h;
	const int left = 24 + ch_h + 70, right = width - 40;
	const int top = 24 + ch_h + 16;
	const int bottom = height - (24 + ch_h + 18 + ch_h + 12 + (legend_h ? legend_h + 10 : 0));

	auto px = [&](double x) {
		return left + int(std::lround((x - c.xmin) / (c.xmax - c.xmin) * (right - left)));
	};
	auto py = [&](double y) {
		return bottom - int(std::lround((y - c.ymin) / (c.ymax - c.ymin) * (bottom - top)));
	};

	cv.text((width - canvas::text_width(c.title, scale)) / 2, 16, c.title, scale, kBlack);

	// Grid and ticks; a tick every step from the axis minimum.
	const int nx = c.xstep > 0 ? int(std::floor((c.xmax - c.xmin) / c.xstep + 1e-9)) : 0;
	for (int i = 0; i <= nx; ++i) {
		const double v = c.xmin + i * c.xstep;
		const int x = px(v);
		cv.line(x, top, x, bottom, kGrid);
		cv.line(x, bottom, x, bottom + 6, kBlack);
		const std::string l = tick_label(v, c.xstep);
		cv.text(x - canvas::text_width(l, scale) / 2, bottom + 12, l, scale, kBlack);
	}
	const int ny = c.ystep > 0 ? int(std::floor((c.ymax - c.ymin) / c.ystep + 1e-9)) : 0;
	for (int i = 0; i <= ny; ++i) {
		const double v = c.ymin + i * c.ystep;
		const int y = py(v);
		cv.line(left, y, right, y, kGrid);
		cv.line(left - 6, y, left, y, kBlack);
		const std::string l = tick_label(v, c.ystep);
		cv.text(left - 12 - canvas::text_width(l, scale), y - ch_h / 2, l, scale, kBlack);
	}
	const int xlabel_y = bottom + 12 + ch_h + 18;
	cv.text((left + right - canvas::text_width(c.xlabel, scale)) / 2, xlabel_y, c.xlabel, scale, kBlack);
	cv.text(16, (top + bottom + canvas::text_width(c.ylabel, scale)) / 2, c.ylabel, scale, kBlack, true);

	if (!std::isnan(c.yref) && c.yref >= c.ymin && c.yref <= c.ymax)
		for (int x = left; x <= right; x += 12)
			cv.line(x, py(c.yref), std::min(x + 6, right), py(c.yref), kBlack);

	// Series, clipped to the plot area by drawing only inside it.
	for (size_t s = 0; s < c.lines.size(); ++s) {
		const uint8_t colour = uint8_t(kFirstSeries + s % kSeriesColours);
		const series &ser = c.lines[s];
		const size_t n = std::min(ser.x.size(), ser.y.size());
		auto inside = [&](size_t i) {
			return !std::isnan(ser.y[i]) && ser.x[i] >= c.xmin && ser.x[i] <= c.xmax &&
			       ser.y[i] >= c.ymin && ser.y[i] <= c.ymax;
		};
		for (size_t i = 0; i + 1 < n; ++i)
			if (inside(i) && inside(i + 1))
				cv.line(px(ser.x[i]), py(ser.y[i]), px(ser.x[i + 1]), py(ser.y[i + 1]), colour, 2);
		for (size_t i = 0; i < n; ++i)
			if (inside(i))
				cv.fill(px(ser.x[i]) - 3, py(ser.y[i]) - 3, px(ser.x[i]) + 3, py(ser.y[i]) + 3, colour);
	}

	// Axes last, over the grid.
	cv.line(left, top, left, bottom, kBlack, 2);
	cv.line(left, bottom, right, bottom, kBlack, 2);
	cv.line(left, top, right, top, kBlack);
	cv.line(right, top, right, bottom, kBlack);

	// Legend rows, each centred under the plot.
	for (int r = 0; r < legend_rows; ++r) {
		int row_w = 0;
		for (size_t s = 0; s < c.lines.size(); ++s)
			if (row_of[s] == r)
				row_w += sample_w + 8 + canvas::text_width(c.lines[s].name, scale) + entry_gap;
		int x = (width - (row_w - entry_gap)) / 2;
		const int y = xlabel_y + ch_h + 16 + r * legend_row_h;
		for (size_t s = 0; s < c.lines.size(); ++s) {
			if (row_of[s] != r)
				continue;
			const uint8_t colour = uint8_t(kFirstSeries + s % kSeriesColours);
			cv.line(x, y + ch_h / 2, x + sample_w, y + ch_h / 2, colour, 2);
			cv.fill(x + sample_w / 2 - 3, y + ch_h / 2 - 3, x + sample_w / 2 + 3, y + ch_h / 2 + 3, colour);
			cv.text(x + sample_w + 8, y, c.lines[s].name, scale, kBlack);
			x += sample_w + 8 + canvas::text_width(c.lines[s].name, scale) + entry_gap;
		}
	}
	return cv;
}

} // namespace plot
