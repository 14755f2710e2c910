// Watch mode: the stream's reference list against what navsynth sends, and
// the scoring of what a chain queued.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "watch.h"

using namespace sensitivity;

namespace {

TEST(WatchStream, ReferenceListIsWhatNavsynthSends)
{
	const watch_stream s = plan_stream(4, 2, 6);
	const navsynth::Config cfg = stream_config(s);
	ASSERT_EQ(cfg.chan.size(), 2u);
	std::set<std::string> ids;
	int short_gaps = 0, txs = 0, multi = 0;
	for (size_t ch = 0; ch < 2; ch++) {
		const auto &plan = s.channels[ch];
		ASSERT_FALSE(plan.empty());
		navsynth::ChannelSignal sig;
		ASSERT_EQ(navsynth::render_channel(cfg, int(ch), sig, 0), "");
		ASSERT_EQ(sig.spans.size(), plan.size());
		EXPECT_NEAR(double(sig.i.size()), s.length_s * s.rate, 2 * double(plan.size()) + 2);
		for (size_t t = 0; t < plan.size(); t++) {
			const watch_tx &tx = plan[t];
			// Sent as planned: text, settings, and where its signal lies.
			EXPECT_EQ(cfg.chan[ch].transmissions[t], tx.text());
			EXPECT_EQ(cfg.chan[ch].tx[t].offset_hz, tx.params.offset_hz);
			EXPECT_NEAR(double(sig.spans[t].first), tx.start_s * s.rate, 1 + double(t));
			EXPECT_NEAR(double(sig.spans[t].second), tx.end_s * s.rate, 2 + double(t));
			EXPECT_LE(std::fabs(tx.params.offset_hz), 60);
			EXPECT_LE(std::fabs(tx.params.ppm), 300);
			if (tx.params.fading_hz > 0)
				EXPECT_TRUE(tx.params.snr_db >= 10 && tx.params.snr_db <= 16) << tx.params.snr_db;
			else
				EXPECT_TRUE(tx.params.snr_db >= 3 && tx.params.snr_db <= 12) << tx.params.snr_db;
			// The signal is there and the gap before it is noise alone.
			auto power = [&](size_t from, size_t to) {
				double p = 0;
				for (size_t n = from; n < to; n++)
					p += double(sig.i[n]) * sig.i[n] + double(sig.q[n]) * sig.q[n];
				return p / double(to - from);
			};
			const size_t gap = size_t(tx.params.gap_s * s.rate);
			EXPECT_GT(power(sig.spans[t].first, sig.spans[t].first + 1700),
				  1.5 * power(sig.spans[t].first - gap, sig.spans[t].first));
			short_gaps += t > 0 && tx.params.gap_s <= 3;
			txs++;
			multi += tx.messages.size() > 1;
			for (const watch_message &m : tx.messages) {
				EXPECT_TRUE(ids.insert(m.id).second) << "sent twice: " << m.id;
				ASSERT_EQ(m.id.size(), 4u);
				EXPECT_TRUE(isupper(m.id[0]) && isupper(m.id[1]) && isdigit(m.id[2]) && isdigit(m.id[3])) << m.id;
				EXPECT_EQ(m.text, "ZCZC " + m.id + "\n" + m.body());
				EXPECT_EQ(m.body().substr(m.body().size() - 5), "\nNNNN");
				// The same station sends every message of a transmission.
				EXPECT_EQ(m.id[0], tx.messages[0].id[0]);
			}
		}
	}
	EXPECT_GT(short_gaps, 0);
	EXPECT_LT(short_gaps, txs);
	EXPECT_GT(multi, 0);
	// Reproducible; another seed, another plan.
	EXPECT_EQ(plan_stream(4, 2, 6).channels[1].back().text(), s.channels[1].back().text());
	EXPECT_NE(plan_stream(5, 2, 6).channels[1].front().text(), s.channels[1].front().text());
}

TEST(WatchScore, MissedWrongAndNeverSentIdentifiersAreCounted)
{
	watch_stream s;
	s.channels.resize(2);
	watch_tx a, b;
	for (const char *id : {"AA01", "AB02", "AC03"})
		a.messages.push_back({id, std::string("ZCZC ") + id + "\nGALE WARNING NR 1\nWIND NE 4 OR 5.\nNNNN"});
	b.params.fading_hz = 1;
	b.messages.push_back({"BA10", "ZCZC BA10\nICE REPORT 12\nNNNN"});
	s.channels[0] = {a, b};
	s.channels[1] = {b};
	s.channels[1][0].messages[0].id = "CA20";

	const std::string body = a.messages[0].body();
	std::string worse = a.messages[1].body();
	worse[3] = '*';
	worse[9] = 'X'; // 2 of 37: 5.4 % wrong
	std::vector<queued> got = {
		{0, "AA01", body, 0, 0},
		{0, "AB02", worse, 1, 0},
		{0, "AA01", body.substr(1), 0, 0}, // a second copy, worse
		{0, "AC93", a.messages[2].body(), 0, 0}, // garbled identifier
		{0, "BA10", s.channels[0][1].messages[0].body(), 0, 0},
		{1, "AC03", a.messages[2].body(), 0, 0}, // sent, but on the other channel
		{1, "G\nG,", "", 0, 0},                 // no CSV field of its own
	};
	const std::vector<watch_line> lines = score_stream(s, got);
	auto find = [&](int ch, const std::string &id, verdict v) {
		for (const watch_line &l : lines)
			if (l.channel == ch && l.id == id && l.v == v)
				return &l;
		return static_cast<const watch_line *>(nullptr);
	};
	ASSERT_NE(find(0, "AA01", verdict::ok), nullptr);
	EXPECT_EQ(find(0, "AA01", verdict::ok)->wrong_pct, 0);
	ASSERT_NE(find(0, "AB02", verdict::errored), nullptr);
	EXPECT_NEAR(find(0, "AB02", verdict::errored)->wrong_pct, 200.0 / double(worse.size()), 1e-9);
	EXPECT_EQ(find(0, "AB02", verdict::errored)->marked, 1);
	EXPECT_NE(find(0, "AC03", verdict::missed), nullptr);
	EXPECT_NE(find(0, "AC93", verdict::never_sent), nullptr);
	EXPECT_NE(find(0, "AA01", verdict::duplicate), nullptr);
	EXPECT_NE(find(1, "AC03", verdict::never_sent), nullptr);
	EXPECT_NE(find(1, "CA20", verdict::missed), nullptr);

	const watch_tally t0 = tally(s, lines, 0), t1 = tally(s, lines, 1);
	EXPECT_EQ(t0.sent, 3);
	EXPECT_EQ(t0.ok, 1);
	EXPECT_EQ(t0.errored, 1);
	EXPECT_EQ(t0.missed, 1);
	EXPECT_EQ(t0.fade1_sent, 1);
	EXPECT_EQ(t0.fade1_ok, 1);
	EXPECT_EQ(t0.never_sent, 1);
	EXPECT_EQ(t0.duplicates, 1);
	EXPECT_EQ(t1.sent, 0);
	EXPECT_EQ(t1.fade1_sent, 1);
	EXPECT_EQ(t1.fade1_ok, 0);
	EXPECT_EQ(t1.never_sent, 2);
	// Every line goes to the CSV with as many fields as the header.
	auto fields = [](const std::string &l) {
		long n = 1;
		bool quoted = false;
		for (char c : l) {
			quoted ^= c == '"';
			n += c == ',' && !quoted;
			EXPECT_NE(c, '\n');
		}
		return n;
	};
	for (const watch_line &l : lines)
		EXPECT_EQ(fields(watch_csv_line(s, "enhanced", l)), fields(watch_csv_header())) << l.id;
}

} // namespace
