// Chart drawing: tick labels, text placement, series placement and gaps.
#include <gtest/gtest.h>

#include <cmath>

#include "plot.h"

namespace {

// Bounding box of pixels of one colour.
struct box {
	int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
	int count = 0;
};

box find(const plot::canvas &c, uint8_t colour)
{
	box b;
	for (int y = 0; y < c.height(); y++)
		for (int x = 0; x < c.width(); x++)
			if (c.at(x, y) == colour) {
				b.left = std::min(b.left, x);
				b.right = std::max(b.right, x);
				b.top = std::min(b.top, y);
				b.bottom = std::max(b.bottom, y);
				b.count++;
			}
	return b;
}

TEST(Plot, TickLabelsHaveTheDecimalsOfTheStep)
{
	EXPECT_EQ(plot::tick_label(20, 10), "20");
	EXPECT_EQ(plot::tick_label(1.5, 0.5), "1.5");
	EXPECT_EQ(plot::tick_label(0.25, 0.05), "0.25");
	EXPECT_EQ(plot::tick_label(-3, 1), "-3");
	EXPECT_EQ(plot::tick_label(-1e-17, 0.1), "0.0");
}

TEST(Plot, TextLiesWhereAsked)
{
	plot::canvas c(100, 100);
	c.text(10, 20, "l-", 2, 1); // lower case drawn as a capital L
	box b = find(c, 1);
	EXPECT_EQ(b.left, 10);
	EXPECT_EQ(b.top, 20);
	EXPECT_EQ(b.bottom, 20 + 14 - 1);
	EXPECT_EQ(b.right, 10 + plot::canvas::text_width("l-", 2) - 1);

	plot::canvas u(100, 100);
	u.text(10, 80, "L", 1, 1, true); // turned: runs up from (10, 80)
	box t = find(u, 1);
	EXPECT_EQ(t.left, 10);
	EXPECT_EQ(t.right, 16);
	EXPECT_EQ(t.bottom, 80);
	EXPECT_EQ(t.top, 76);
}

TEST(Plot, SeriesPointsAndGaps)
{
	plot::chart ch;
	ch.xmin = 0;
	ch.xmax = 10;
	ch.xstep = 5;
	ch.ymin = 0;
	ch.ymax = 100;
	ch.ystep = 50;
	ch.lines.push_back({"A", {0, 10}, {0, 100}});
	ch.lines.push_back({"B", {1, 2, 3}, {50, NAN, 50}});
	plot::canvas c = plot::draw(ch, 400, 300);
	// The first series runs corner to corner of the plot area: its bounding
	// box (legend sample aside) spans the axes' range both ways.
	box a = find(c, 3);
	box b = find(c, 4);
	ASSERT_GT(a.count, 0);
	ASSERT_GT(b.count, 0);
	EXPECT_GT(a.right - a.left, 250);
	EXPECT_GT(a.bottom - a.top, 150);
	// B's two points sit at the same height; the NaN between them leaves
	// no line: left of the legend only its two 7 x 7 markers are drawn.
	int filled = 0, lx = 1 << 30, rx = -1;
	for (int y = 0; y < c.height(); y++)
		for (int x = 0; x < c.width() / 2; x++)
			if (c.at(x, y) == 4) {
				filled++;
				lx = std::min(lx, x);
				rx = std::max(rx, x);
			}
	EXPECT_EQ(filled, 2 * 49);
	EXPECT_GT(rx - lx, 40) << "markers one fifth of the axis apart";
	EXPECT_FALSE(c.to_png(png::Deflate::runs).empty());
}

} // namespace
