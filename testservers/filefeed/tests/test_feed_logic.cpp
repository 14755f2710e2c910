// filefeed's file splitting, loading, options, waits and request table.
#include "filefeed.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

using sv = std::string_view;
using views = std::vector<std::string_view>;

struct Parsed {
	int rc;
	filefeed_options o;
	std::string out;
};

Parsed parse(std::vector<std::string> args)
{
	args.insert(args.begin(), "filefeed");
	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	Parsed p;
	testing::internal::CaptureStdout();
	p.rc = filefeed_parse_options(static_cast<int>(args.size()), argv.data(), &p.o);
	fflush(stdout);
	p.out = testing::internal::GetCapturedStdout();
	return p;
}

feed_state state_with(const views &msgs, int interval = 2)
{
	feed_state st;
	st.msgs = msgs;
	st.interval = interval;
	return st;
}

// Ticks until a message is pending; returns the number of ticks taken.
int ticks_until_pending(feed_state &st, double r)
{
	int n = 0;
	while (st.current < 0 && n < 1000) {
		filefeed_tick(st, r);
		++n;
	}
	return n;
}

// Delivers the pending message after the needed status requests; returns
// how many status requests it took and the delivered body.
std::pair<int, std::string> deliver(feed_state &st)
{
	int statuses = 0;
	for (;;) {
		feed_reply m = filefeed_request(st, "GETMSG");
		if (m.action == feed_action::deliver) {
			filefeed_delivered(st);
			return {statuses, m.parts[1]};
		}
		EXPECT_TRUE(m.parts.empty());
		filefeed_request(st, "GETSTATUS");
		if (++statuses > 100)
			return {-1, ""};
	}
}

} // namespace

TEST(FilefeedSplit, SeparatorsAndTheCharacterAfterThem)
{
	EXPECT_EQ(split_messages("ONE\nNNNN\nTWO\nNNNN\nTHREE\nNNNN\ntail"),
		  (views{"ONE\n", "TWO\n", "THREE\n"}));
	EXPECT_EQ(split_messages("no separator here\n"), (views{"no separator here\n"}));
	EXPECT_EQ(split_messages("ANNNN"), (views{"A"})); // separator at the very end
	EXPECT_EQ(split_messages("ANNNNXB"), (views{"A"}));
	EXPECT_EQ(split_messages("ANNNN\nNNNN\nB"), (views{"A", ""}));
	EXPECT_EQ(split_messages("ANNNNNB NNNN\n"), (views{"A", "B "})); // fifth N skipped
	EXPECT_EQ(split_messages("A\r\nNNNN\r\nB\r\nNNNN\r\n"), (views{"A\r\n", "\nB\r\n"}));

	std::string many;
	for (int i = 0; i < 150; ++i)
		many += "MSG " + std::to_string(i) + "\nNNNN\n";
	auto m = split_messages(many);
	ASSERT_EQ(m.size(), 150u); // the table grows past 99
	EXPECT_EQ(m[149], "MSG 149\n");
}

TEST(FilefeedLoad, FilesAndTheirFailures)
{
	auto dir = std::filesystem::temp_directory_path() /
		   ("filefeed-load-" + std::to_string(getpid()));
	std::filesystem::create_directories(dir);
	auto write = [&](const char *name, const std::string &text) {
		std::ofstream(dir / name, std::ios::binary) << text;
		return (dir / name).string();
	};

	message_store s;
	EXPECT_EQ(load_messages(write("three", "A\nNNNN\nB\nNNNN\nC\nNNNN\n"), &s), 3);
	EXPECT_EQ(s.msgs[2], "C\n");

	message_store w;
	EXPECT_EQ(load_messages(write("whole", "JUST TEXT\n"), &w), 1);
	EXPECT_EQ(w.msgs[0], "JUST TEXT\n");

	// Empty is served like any text without a separator: one message.
	message_store none;
	EXPECT_EQ(load_messages(write("empty", ""), &none), 1);
	EXPECT_EQ(none.msgs[0], "");

	testing::internal::CaptureStderr();
	message_store e;
	EXPECT_EQ(load_messages((dir / "missing").string(), &e), -1);
	EXPECT_EQ(load_messages(dir.string(), &e), -1);
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_NE(err.find("open: No such file or directory\n"), std::string::npos);
	EXPECT_NE(err.find("open: Is a directory\n"), std::string::npos);
	std::filesystem::remove_all(dir);
}

TEST(FilefeedOptions, ValuesAndRefusals)
{
	Parsed d = parse({});
	EXPECT_EQ(d.rc, -1);
	EXPECT_EQ(d.o.port, 9968);
	EXPECT_EQ(d.o.path, "./navtexMsg.txt");
	EXPECT_EQ(d.o.interval, 2);

	EXPECT_EQ(parse({"-p", "0x2710"}).o.port, 10000);
	EXPECT_EQ(parse({"-p", "010"}).o.port, 8);
	Parsed p = parse({"-p", "4000", "-f", "/x/y", "-i", "7"});
	EXPECT_EQ(p.rc, -1);
	EXPECT_EQ(p.o.port, 4000);
	EXPECT_EQ(p.o.path, "/x/y");
	EXPECT_EQ(p.o.interval, 7);

	for (const char *bad : {"abc", "12x", "", "70000", "-1", "0"}) {
		Parsed b = parse({"-p", bad});
		EXPECT_EQ(b.rc, 1) << bad;
		EXPECT_EQ(b.out, "Illegal port value specified\n") << bad;
	}
	Parsed i = parse({"-i", "two"});
	EXPECT_EQ(i.rc, 1);
	EXPECT_EQ(i.out, "Illegal interval value specified\n");
	for (auto args : std::vector<std::vector<std::string>>{{"-x"}, {"-p"}}) {
		Parsed o = parse(args);
		EXPECT_EQ(o.rc, 1);
		EXPECT_EQ(o.out, "Illegal option\n");
	}
}

TEST(FilefeedWaits, FirstWaitIsOneTickThenScaledByInterval)
{
	feed_state st = state_with({"A", "B"}, 2);
	EXPECT_FALSE(filefeed_tick(st, 0.99));
	EXPECT_EQ(st.current, -1);
	EXPECT_TRUE(filefeed_tick(st, 0.99)); // the tick count passed 1
	EXPECT_EQ(st.current, 0);
	EXPECT_EQ(st.next, 1);
	EXPECT_EQ(st.wait, 19); // 0.99 x 10 x 2 s, truncated
	EXPECT_EQ(st.ticks, 0);

	// A pending message stays pending when the next wait ends.
	for (int k = 0; k < 19; ++k)
		EXPECT_FALSE(filefeed_tick(st, 0.0));
	EXPECT_TRUE(filefeed_tick(st, 0.0));
	EXPECT_EQ(st.current, 0);
	EXPECT_EQ(st.next, 1);
	EXPECT_EQ(st.wait, 0);
	EXPECT_TRUE(filefeed_tick(st, 0.5)); // a zero wait ends at the next tick
	EXPECT_EQ(st.wait, 10);

	feed_state z = state_with({"A"}, 0);
	EXPECT_EQ(ticks_until_pending(z, 0.7), 2);
	EXPECT_EQ(z.wait, 0);
}

TEST(FilefeedRequests, LinesAreComparedWhole)
{
	EXPECT_EQ(request_line("GETMSG\r\nmore", 12), sv("GETMSG"));
	EXPECT_EQ(request_line("GETSTATUS\n", 10), sv("GETSTATUS"));
	const char with_nul[] = {'q', 'u', 'i', 't', '\0', 'x'};
	EXPECT_EQ(request_line(with_nul, sizeof(with_nul)), sv("quit"));
	EXPECT_EQ(request_line("GETMSG", 6), sv("GETMSG"));

	feed_state st = state_with({"A\n"});
	feed_reply fresh = filefeed_request(st, "GETSTATUS");
	EXPECT_EQ(fresh.action, feed_action::reply);
	EXPECT_EQ(fresh.parts, (std::vector<std::string>{"GETSTATUS:"}));
	EXPECT_EQ(fresh.out, "get STATUS\n");
	EXPECT_EQ(st.countdown, 3); // nothing pending: no count
	EXPECT_EQ(filefeed_request(st, "GETMSG").action, feed_action::none);

	for (sv other : {"GETSTATUS now", "getstatus", "GETMSG ", "EXIT", "", "QUIT"}) {
		feed_reply r = filefeed_request(st, other);
		EXPECT_EQ(r.action, feed_action::none) << other;
		EXPECT_TRUE(r.parts.empty() && r.out.empty()) << other;
	}
	EXPECT_EQ(filefeed_request(st, "quit").action, feed_action::close);

	ticks_until_pending(st, 0.0);
	feed_reply rcv = filefeed_request(st, "GETSTATUS");
	EXPECT_EQ(rcv.parts[0], "GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:RCV,SIG:0.0\n"
				"FREQ:4209,ST:IDLE,SIG:0.0\n");
	EXPECT_EQ(rcv.out, "get STATUS\nRECEIVING\n");
	EXPECT_EQ(st.countdown, 2);
}

TEST(FilefeedRequests, CountdownThreeThenFifteenAndRoundRobin)
{
	feed_state st = state_with({"ZERO\n", "ONE\n", "TWO\n"});
	std::vector<std::string> order;
	std::vector<int> statuses;
	for (int k = 0; k < 4; ++k) {
		ticks_until_pending(st, 0.0);
		auto [n, body] = deliver(st);
		statuses.push_back(n);
		order.push_back(body);
	}
	EXPECT_EQ(statuses, (std::vector<int>{3, 15, 15, 15}));
	EXPECT_EQ(order, (std::vector<std::string>{"ZERO\n", "ONE\n", "TWO\n", "ZERO\n"}));

	// The delivery itself: three parts and the standard output lines.
	ticks_until_pending(st, 0.0);
	for (int k = 0; k < 15; ++k)
		filefeed_request(st, "GETSTATUS");
	feed_reply m = filefeed_request(st, "GETMSG");
	ASSERT_EQ(m.action, feed_action::deliver);
	EXPECT_EQ(m.parts, (std::vector<std::string>{"GETMSG:\n", "ONE\n", "\nNNNN"}));
	EXPECT_EQ(m.out, "GETMGS:\nONE\n\nNNNN\n");
	// Not yet delivered until the sends succeeded: asked again, same message.
	EXPECT_EQ(filefeed_request(st, "GETMSG").parts[1], "ONE\n");
	filefeed_delivered(st);
	EXPECT_EQ(st.current, -1);
	EXPECT_EQ(st.countdown, 15);
	EXPECT_EQ(filefeed_request(st, "GETMSG").action, feed_action::none);
}
