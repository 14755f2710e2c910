// Scoring, CSV and the summary figures; one clean and one hopeless case
// decoded for real; a chart drawn by gnuplot.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "charts.h"
#include "sensitivity.h"

using namespace sensitivity;

namespace {

TEST(Score, MarksAreDroppedAndOnlyTheReferenceCounts)
{
	EXPECT_EQ(strip_marks("sssZCZC SA42r\nlGALE f8r\naaaa"), "ZCZC SA42\nGALE 8\n");
	EXPECT_EQ(fitting_distance("ABC", "**ABC**"), 0);
	EXPECT_EQ(fitting_distance("ABC", "xxA#Cyy"), 1);
	EXPECT_EQ(fitting_distance("ABCD", "ABD"), 1);
	EXPECT_EQ(fitting_distance("ABCD", "ABXCD"), 1);
	EXPECT_EQ(fitting_distance("ABC", ""), 3);
	EXPECT_EQ(fitting_distance("", "XYZ"), 0);
	// Never more than the reference's length, however long the echo.
	EXPECT_EQ(fitting_distance("AB", std::string(500, '*')), 2);
}

TEST(Score, MessageTextsAreEncodableAndCarryTheirIdentifier)
{
	for (uint64_t s = 1; s <= 3; s++) {
		const std::string t = message_text(s);
		EXPECT_EQ(t.rfind("ZCZC " + message_id(s) + "\n", 0), 0u);
		EXPECT_EQ(t.substr(t.size() - 5), "\nNNNN");
		for (char ch : t)
			EXPECT_TRUE(std::strchr("rsabclf", ch) == nullptr) << "a mark letter would be dropped: " << ch;
	}
	EXPECT_NE(message_text(1), message_text(2));
}

row sample_row()
{
	row r;
	r.cond = {"offset", "enhanced", 1707.65, 10, -30, 150, 0.5, 7};
	r.out.ref_chars = 180;
	r.out.wrong_chars = 9;
	r.out.locked = true;
	r.out.msg_ok = true;
	r.out.msg_errors = 4;
	return r;
}

TEST(Csv, RoundTrip)
{
	const row r = sample_row();
	std::vector<row> back;
	ASSERT_EQ(parse_csv(csv_header() + "\n" + csv_line(r) + "\r\n" + csv_line(r) + "\n", back), "");
	ASSERT_EQ(back.size(), 2u);
	const row &b = back[1];
	EXPECT_EQ(b.cond.sweep, "offset");
	EXPECT_EQ(b.cond.chain, "enhanced");
	EXPECT_DOUBLE_EQ(b.cond.rate, 1707.65);
	EXPECT_DOUBLE_EQ(b.cond.snr_db, 10);
	EXPECT_DOUBLE_EQ(b.cond.offset_hz, -30);
	EXPECT_DOUBLE_EQ(b.cond.ppm, 150);
	EXPECT_DOUBLE_EQ(b.cond.fading_hz, 0.5);
	EXPECT_EQ(b.cond.seed, 7u);
	EXPECT_EQ(b.out.ref_chars, 180);
	EXPECT_EQ(b.out.wrong_chars, 9);
	EXPECT_DOUBLE_EQ(b.out.cer(), 0.05);
	EXPECT_TRUE(b.out.locked);
	EXPECT_TRUE(b.out.msg_ok);
	EXPECT_EQ(b.out.msg_errors, 4);
}

TEST(Csv, MalformedLinesAreNamed)
{
	const std::string good = csv_line(sample_row());
	std::vector<row> rows;
	std::string err = parse_csv(good + "\n" + "offset,enhanced,1707.65,10\n", rows);
	EXPECT_NE(err.find("line 2"), std::string::npos) << err;
	rows.clear();
	err = parse_csv("snr,specified,1707.65,x1,0,0,0,1,180,0,0,1,1,0\n", rows);
	EXPECT_NE(err.find("line 1: not a number"), std::string::npos) << err;
	rows.clear();
	err = parse_csv("snr,specified,1707.65,1,0,0,0,1,180,200,0,1,1,0\n", rows); // more wrong than sent
	EXPECT_NE(err.find("out of range"), std::string::npos) << err;
	rows.clear();
	err = parse_csv("snr,specified,1707.65,1,0,0,0,1,180,0,0,1,1,0,\n", rows);
	EXPECT_NE(err.find("15 fields"), std::string::npos) << err;
	rows.clear();
	err = parse_csv(",specified,1707.65,1,0,0,0,1,180,0,0,1,1,0\n", rows);
	EXPECT_NE(err.find("no sweep"), std::string::npos) << err;
	rows.clear();
	// A CSV from before the chain column, or a misspelt chain.
	err = parse_csv("snr,1707.65,1,0,0,0,1,180,0,0,1,1,0\n", rows);
	EXPECT_NE(err.find("13 fields, not 14"), std::string::npos) << err;
	rows.clear();
	err = parse_csv("snr,enhance,1707.65,1,0,0,0,1,180,0,0,1,1,0\n", rows);
	EXPECT_NE(err.find("unknown chain"), std::string::npos) << err;
}

std::vector<point> pts(std::vector<std::pair<double, double>> xc)
{
	std::vector<point> v;
	for (auto [x, c] : xc) {
		point p;
		p.x = x;
		p.cer = c;
		p.cases = 1;
		v.push_back(p);
	}
	return v;
}

TEST(Summary, AggregateAndLimits)
{
	std::vector<row> rows;
	for (int seed = 1; seed <= 2; seed++)
		for (int snr : {0, 5}) {
			row r;
			r.cond = {"snr", "specified", 1700, double(snr), 0, 0, 0, uint64_t(seed)};
			r.out.ref_chars = 100;
			r.out.wrong_chars = snr == 0 ? 10 * seed : 0;
			r.out.locked = true;
			r.out.msg_ok = seed == 1;
			rows.push_back(r);
		}
	rows.push_back({{"snr", "specified", 1707.65, 0, 0, 0, 0, 1}, {100, 100, false, false, -1}});
	// The other chain's cases at the same points stay out of these figures.
	rows.push_back({{"snr", "enhanced", 1700, 0, 0, 0, 0, 1}, {100, 0, true, true, 0}});
	rows.push_back({{"snr", "enhanced", 1700, 7, 0, 0, 0, 1}, {100, 0, true, true, 0}});
	EXPECT_EQ(chains(rows), (std::vector<std::string>{"specified", "enhanced"}));
	auto a = aggregate(rows, "snr", 1700, "snr_db", "specified");
	ASSERT_EQ(a.size(), 2u);
	EXPECT_EQ(a[0].x, 0);
	EXPECT_EQ(a[0].cases, 2);
	EXPECT_DOUBLE_EQ(a[0].cer, 0.15);
	EXPECT_DOUBLE_EQ(a[0].msg_rate, 0.5);
	EXPECT_DOUBLE_EQ(a[1].lock_rate, 1.0);
	EXPECT_EQ(aggregate(rows, "snr", 1707.65, "snr_db").size(), 1u);
	auto e = aggregate(rows, "snr", 1700, "snr_db", "enhanced");
	ASSERT_EQ(e.size(), 2u);
	EXPECT_EQ(e[0].cases, 1);
	EXPECT_DOUBLE_EQ(e[0].cer, 0);
	EXPECT_EQ(e[1].x, 7);

	// A dip back above the limit at high x moves the threshold up.
	EXPECT_EQ(threshold_from_below(pts({{0, 0.5}, {1, 0.005}, {2, 0.02}, {3, 0}, {4, 0}}), 0.01), 3);
	EXPECT_TRUE(std::isnan(threshold_from_below(pts({{0, 0}, {1, 0.5}}), 0.01)));

	range r = working_range(pts({{-20, 0.3}, {-10, 0}, {0, 0}, {10, 0.001}, {20, 0}}), 0.01);
	EXPECT_EQ(r.lo, -10);
	EXPECT_TRUE(r.lo_broke);
	EXPECT_EQ(r.hi, 20);
	EXPECT_FALSE(r.hi_broke);
	// A bad point stops the walk even if later ones work again.
	r = working_range(pts({{0, 0}, {10, 0.02}, {20, 0}}), 0.01);
	EXPECT_EQ(r.hi, 0);
	EXPECT_TRUE(r.hi_broke);
	r = working_range(pts({{-10, 0}, {0, 0.5}, {10, 0}}), 0.01);
	EXPECT_TRUE(std::isnan(r.lo));
}

bool on_path(const char *prog)
{
	const char *path = getenv("PATH");
	std::string dirs = path ? path : "";
	for (size_t a = 0, b; a <= dirs.size(); a = b + 1) {
		b = dirs.find(':', a);
		if (b == std::string::npos)
			b = dirs.size();
		const std::string f = dirs.substr(a, b - a) + "/" + prog;
		if (access(f.c_str(), X_OK) == 0)
			return true;
	}
	return false;
}

// A log-axis panel with a zero point (drawn on the floor) over a linear
// one, as the tool draws them; and a missing gnuplot named as such.
TEST(Charts, PngDrawnByGnuplotOrMissingProgramReported)
{
	chart c;
	c.title = "it's a test";
	c.xlabel = "SNR in 500 Hz (dB)";
	panel cer;
	cer.log_y = true;
	cer.ymin = 0.01;
	cer.yref = 1;
	cer.lines.push_back({"specified, 1700 frames/s", {0, 1, 2, 3}, {50, 5, 0.2, 0}, 0, 1});
	cer.lines.push_back({"enhanced", {0, 1, 2, 3}, {1, 0, 0, 0}, 1, 0});
	panel msgs;
	msgs.lines.push_back({"messages", {0, 1, 2, 3}, {0, 50, NAN, 100}, 0, 0});
	c.panels = {cer, msgs};
	char dir[] = "/tmp/sensitivity-test.XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	const std::string png = std::string(dir) + "/chart.png";

	const std::string missing = draw_chart(c, png, std::string(dir) + "/no-such-gnuplot");
	EXPECT_NE(missing.find("not found"), std::string::npos) << missing;
	EXPECT_NE(missing.find("gnuplot"), std::string::npos) << missing;

	if (!on_path("gnuplot")) {
		rmdir(dir);
		GTEST_SKIP() << "gnuplot is not installed (Debian package gnuplot-nox)";
	}
	EXPECT_NE(draw_chart(chart{}, png), "");
	ASSERT_EQ(draw_chart(c, png), "");
	std::ifstream in(png, std::ios::binary);
	std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	ASSERT_GT(bytes.size(), 24u);
	EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
	// IHDR: 800 x 600.
	auto be32 = [&](size_t at) {
		return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
		       (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint8_t(bytes[at + 3]);
	};
	EXPECT_EQ(be32(16), 800u);
	EXPECT_EQ(be32(20), 600u);
	// Lines, text and grid, not a blank picture.
	EXPECT_GT(bytes.size(), 10000u);
	std::remove(png.c_str());
	rmdir(dir);
}

TEST(RunCase, CleanSignalDecodesAndNoiseDoesNot)
{
	outcome clean;
	condition c;
	c.sweep = "test";
	c.seed = 2;
	ASSERT_EQ(run_case(c, clean), "");
	EXPECT_EQ(clean.ref_chars, int(message_text(2).size()));
	EXPECT_EQ(clean.wrong_chars, 0);
	EXPECT_TRUE(clean.locked);
	EXPECT_TRUE(clean.msg_ok);
	EXPECT_EQ(clean.msg_errors, 0);

	outcome lost;
	c.snr_db = -20;
	ASSERT_EQ(run_case(c, lost), "");
	EXPECT_GT(lost.cer(), 0.5);
	EXPECT_FALSE(lost.msg_ok);
}

} // namespace
