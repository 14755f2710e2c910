// Scoring, CSV and the summary figures; one clean and one hopeless case
// decoded for real.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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
	r.cond = {"offset", 1707.65, 10, -30, 150, 0.5, 7, "enhanced"};
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
	err = parse_csv("snr,best,1707.65,1,0,0,0,1,180,0,0,1,1,0\n", rows);
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
			r.cond = {"snr", 1700, double(snr), 0, 0, 0, uint64_t(seed)};
			r.out.ref_chars = 100;
			r.out.wrong_chars = snr == 0 ? 10 * seed : 0;
			r.out.locked = true;
			r.out.msg_ok = seed == 1;
			rows.push_back(r);
		}
	rows.push_back({{"snr", 1707.65, 0, 0, 0, 0, 1}, {100, 100, false, false, -1}});
	auto a = aggregate(rows, "snr", 1700, "snr_db");
	ASSERT_EQ(a.size(), 2u);
	EXPECT_EQ(a[0].x, 0);
	EXPECT_EQ(a[0].cases, 2);
	EXPECT_DOUBLE_EQ(a[0].cer, 0.15);
	EXPECT_DOUBLE_EQ(a[0].msg_rate, 0.5);
	EXPECT_DOUBLE_EQ(a[1].lock_rate, 1.0);
	EXPECT_EQ(aggregate(rows, "snr", 1707.65, "snr_db").size(), 1u);

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
