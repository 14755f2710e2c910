// Message texts, status replies and the command line of feedmock.
#include "feedmock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include "replies.h"
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const std::string &text)
{
	std::vector<std::string> out;
	std::stringstream ss(text);
	std::string line;
	while (std::getline(ss, line))
		out.push_back(line);
	return out;
}

std::string take(GString *g)
{
	std::string s(g->str, g->len);
	g_string_free(g, TRUE);
	return s;
}

struct Parsed {
	int rc;
	std::unique_ptr<feedmock_settings> s = std::make_unique<feedmock_settings>();
	std::string err;
};

Parsed parse(std::vector<std::string> args)
{
	args.insert(args.begin(), "feedmock");
	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	Parsed p;
	testing::internal::CaptureStderr();
	p.rc = feedmock_parse_options(static_cast<int>(args.size()), argv.data(), p.s.get());
	p.err = testing::internal::GetCapturedStderr();
	return p;
}

} // namespace

TEST(FeedmockSampleTexts, LengthsLayoutAndErrorMarks)
{
	std::string gale = sample_texts[0];
	std::string nav = sample_texts[1];
	EXPECT_EQ(gale.size(), 130u);
	EXPECT_EQ(nav.size(), 466u);
	for (const std::string &t : {gale, nav}) {
		EXPECT_EQ(t.back(), '\n');
		auto stars = std::count(t.begin(), t.end(), '*');
		EXPECT_GE(stars, 1);
		EXPECT_LE(stars, 2);
		// Only characters the daemon can hand out.
		for (char ch : t)
			EXPECT_TRUE(ch == '\n' || (ch >= ' ' && ch <= 'Z')) << int(ch);
	}
	auto g = lines_of(gale);
	ASSERT_EQ(g.size(), 5u);
	EXPECT_NE(g[0].find("RADIO"), std::string::npos);
	EXPECT_EQ(g[1].rfind("GALE WARNING ", 0), 0u);
	EXPECT_NE(g[1].find("UTC"), std::string::npos);
	EXPECT_TRUE(g[2].empty());
	EXPECT_NE(g[4].find("GALE"), std::string::npos);

	auto n = lines_of(nav);
	// Two identifiers: a series with its number, and a four-character one.
	std::istringstream header(n[0]);
	std::string series, number, id, extra;
	header >> series >> number >> id >> extra;
	EXPECT_EQ(series.size(), 2u) << n[0];
	EXPECT_TRUE(!number.empty() && number.find_first_not_of("0123456789") == std::string::npos)
		<< n[0];
	EXPECT_TRUE(th::is_identifier(id)) << n[0];
	EXPECT_TRUE(extra.empty()) << n[0];
	EXPECT_EQ(n[1].rfind("NAVAREA ONE ", 0), 0u);
	EXPECT_NE(nav.find("SERIES:"), std::string::npos);
	EXPECT_NE(nav.find("\n1. "), std::string::npos);
	EXPECT_NE(nav.find("\n2. "), std::string::npos);
	EXPECT_EQ(n.back().rfind("CANCEL ", 0), 0u);
}

TEST(FeedmockMessages, RandomMessagesStayInTheirRanges)
{
	srandom(12345);
	std::set<int> freqs;
	std::set<char> letters;
	std::set<std::string> bodies;
	int max_number = 0;
	for (int i = 0; i < 2000; ++i) {
		int freq = 0;
		std::string m = take(create_random_message(&freq));
		freqs.insert(freq);
		ASSERT_EQ(m.rfind(std::to_string(freq) + "\nZCZC\n", 0), 0u) << m;
		auto first = lines_of(m);
		const std::string &id = first[2];
		ASSERT_TRUE(th::is_identifier(id, 'A', 'Y')) << id;
		letters.insert(id[0]);
		letters.insert(id[1]);
		max_number = std::max(max_number, std::stoi(id.substr(2)));
		size_t body_start = first[0].size() + 1 + 5 + 5;
		ASSERT_GE(m.size(), body_start + 5);
		ASSERT_EQ(m.substr(m.size() - 5), "NNNN\n");
		bodies.insert(m.substr(body_start, m.size() - 5 - body_start));
	}
	EXPECT_EQ(freqs, (std::set<int>{490, 518, 4209}));
	EXPECT_EQ(letters.size(), 25u); // 'A' to 'Y', never 'Z'
	EXPECT_EQ(max_number, 98);
	EXPECT_EQ(bodies, (std::set<std::string>{sample_texts[0], sample_texts[1]}));
}

TEST(FeedmockMessages, StructuredIdentifiersRunTypeFastest)
{
	testing::internal::CaptureStderr();
	auto id = [](const char *s, const char *t, long c) -> std::string {
		int freq = 0;
		GString *g = create_structured_message(s, t, 1, c, &freq);
		if (!g)
			return "none";
		std::string m = take(g);
		EXPECT_EQ(freq, 518);
		return lines_of(m)[2];
	};
	EXPECT_EQ(id("AB", "XY", 0), "AX00");
	EXPECT_EQ(id("AB", "XY", 1), "AY01");
	EXPECT_EQ(id("AB", "XY", 2), "BX02");
	EXPECT_EQ(id("AB", "XY", 3), "BY03");
	EXPECT_EQ(id("AB", "XY", 4), "none");
	EXPECT_EQ(id(nullptr, nullptr, 0), "AA00");
	EXPECT_EQ(id(nullptr, nullptr, 25), "AZ25");
	EXPECT_EQ(id(nullptr, nullptr, 26), "BA26");
	EXPECT_EQ(id(nullptr, nullptr, 100), "DW00"); // number wraps at 100
	EXPECT_EQ(id(nullptr, nullptr, 675), "ZZ75");
	EXPECT_EQ(id(nullptr, nullptr, 676), "none");
	EXPECT_EQ(id("", "Q", 1), "BQ01"); // an empty list counts as all letters
	EXPECT_EQ(id("AB", "XY", -1), "none");
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_NE(err.find("create_structured_message(AB, XY, 1, 0) \n"), std::string::npos);
	EXPECT_NE(err.find("create_structured_message(*, *, 1, 25) \n"), std::string::npos);
	EXPECT_NE(err.find("stations 'AB' (2), types 'XY' (2) \n"), std::string::npos);
	EXPECT_NE(err.find("Sending message: BY03 \n"), std::string::npos);
	EXPECT_NE(err.find("Sending message: BY03 518 kHz\n"), std::string::npos);
}

TEST(FeedmockMessages, BuildStructuredMessageLayout)
{
	testing::internal::CaptureStderr();
	int freq = 0;
	std::string m = take(build_structured_message('Q', 'B', 7, 2, &freq));
	testing::internal::GetCapturedStderr();
	EXPECT_EQ(freq, 4209);
	const std::string head = "4209\nZCZC\nQB07\n";
	ASSERT_EQ(m.rfind(head, 0), 0u);
	std::string body = m.substr(head.size(), m.size() - head.size() - 5);
	EXPECT_TRUE(body == sample_texts[0] || body == sample_texts[1]);
	EXPECT_EQ(m.substr(m.size() - 5), "NNNN\n");
	// No daemon trailer lines.
	EXPECT_EQ(m.find("ERROR:"), std::string::npos);
}

TEST(FeedmockStatus, LeadInMarksOnlyItsChannel)
{
	EXPECT_EQ(take(build_status_reply(0)),
		  "GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:IDLE,SIG:0.0\n"
		  "FREQ:4209,ST:IDLE,SIG:0.0\n");
	EXPECT_EQ(take(build_status_reply(4209)),
		  "GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:IDLE,SIG:0.0\n"
		  "FREQ:4209,ST:RCV,SIG:0.0\n");
	EXPECT_EQ(take(build_status_reply(490)),
		  "GETSTATUS:\nFREQ:490,ST:RCV,SIG:0.0\nFREQ:518,ST:IDLE,SIG:0.0\n"
		  "FREQ:4209,ST:IDLE,SIG:0.0\n");
	EXPECT_EQ(take(build_status_reply(1234)).find("RCV"), std::string::npos);
}

TEST(FeedmockOptions, DefaultsAndValues)
{
	Parsed d = parse({});
	EXPECT_EQ(d.rc, -1);
	EXPECT_EQ(d.s->port, 9968);
	EXPECT_EQ(d.s->max_interval, 10);
	EXPECT_EQ(d.s->max_leadin, 5);
	EXPECT_EQ(d.s->structured, 0);
	EXPECT_EQ(d.s->verbose, 0);
	EXPECT_EQ(d.s->freq_index, 1);
	EXPECT_EQ(d.s->counter, 0);
	EXPECT_TRUE(d.s->stations.empty());

	Parsed p = parse({"-p", "12345", "-i", "3", "-l", "4", "-s", "AB", "-t", "XY",
			  "-S", "-f", "4209", "-n", "7", "-V", "x"});
	EXPECT_EQ(p.rc, -1);
	EXPECT_EQ(p.s->port, 12345);
	EXPECT_EQ(p.s->max_interval, 3);
	EXPECT_EQ(p.s->max_leadin, 4);
	EXPECT_EQ(p.s->stations, "AB");
	EXPECT_EQ(p.s->types, "XY");
	EXPECT_EQ(p.s->structured, 1);
	EXPECT_EQ(p.s->freq_index, 2);
	EXPECT_EQ(p.s->counter, 7);
	EXPECT_EQ(p.s->verbose, 1);

	Parsed l = parse({"--port", "2000", "--max-interval", "1", "--max-leadin", "1",
			  "--station", "*XYZ", "--type", "Q", "--structured", "--verbose"});
	EXPECT_EQ(l.rc, -1);
	EXPECT_EQ(l.s->port, 2000);
	EXPECT_TRUE(l.s->stations.empty()); // '*' keeps all letters
	EXPECT_EQ(l.s->types, "Q");
	EXPECT_EQ(l.s->verbose, 1);
}

TEST(FeedmockOptions, HelpVersionAndRefusals)
{
	const std::string usage = feedmock_usage_text();
	auto u = lines_of(usage);
	ASSERT_EQ(u.size(), 18u);
	EXPECT_EQ(u[1], "NAVTEX message daemon simulator.");
	EXPECT_EQ(u[17], "  -n, --number         Set initial message number (default: 1)");
	const std::string full = usage + feedmock_version_banner() + "\n";

	for (auto args : std::vector<std::vector<std::string>>{
		     {"-h"}, {"--help"}, {"-x"}, {"-f", "500"}, {"-V"}, {"--bogus"}}) {
		Parsed p = parse(args);
		EXPECT_EQ(p.rc, 0) << args[0];
		EXPECT_NE(p.err.find(full), std::string::npos) << args[0];
	}
	Parsed v = parse({"--version"});
	EXPECT_EQ(v.rc, 0);
	EXPECT_EQ(v.err, feedmock_version_banner());

	Parsed n = parse({"-n", "-1"});
	EXPECT_EQ(n.rc, 1);
	EXPECT_NE(n.err.find("must not be negative"), std::string::npos);
	Parsed s = parse({"-s", ""});
	EXPECT_EQ(s.rc, 1);
	EXPECT_NE(s.err.find("-s needs at least one letter"), std::string::npos);
}
