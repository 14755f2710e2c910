// feedmock's accept, client and traffic threads, run in this process on a
// free loopback port with short "seconds".
#include "feedmock.h"
#include "tcp_helpers.h"

#include <gtest/gtest.h>

#include <csignal>
#include "replies.h"
#include <set>
#include <thread>

namespace {

int quiet = 0;

const char *const idle_status =
	"GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:IDLE,SIG:0.0\n"
	"FREQ:4209,ST:IDLE,SIG:0.0\n";

bool ends_status(const std::string &s)
{
	return s.find("FREQ:4209,ST:") != std::string::npos && s.back() == '\n';
}

bool ends_msg(const std::string &s)
{
	return s.size() >= 5 && s.compare(s.size() - 5, 5, "NNNN\n") == 0;
}

// Distributes one-character texts (never queued) until the dead clients'
// threads have noticed and been reaped, so n are left.
bool reap_until(guint n)
{
	auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
	for (;;) {
		client_send("x");
		if (client_count() == n)
			return true;
		if (th::Clock::now() > end)
			return false;
		std::this_thread::sleep_for(th::milliseconds(50));
	}
}

size_t count_of(const std::string &s, const std::string &needle)
{
	size_t n = 0;
	for (size_t p = s.find(needle); p != std::string::npos; p = s.find(needle, p + 1))
		++n;
	return n;
}

class FeedmockServer : public testing::Test {
protected:
	void SetUp() override
	{
		g_log_set_default_handler(log_to_stdout, &quiet);
		fds_before = th::count_fds(getpid());
		s.port = th::free_port();
	}

	// With hold set, traffic starts only once it is cleared.
	void start(long start_delay_ms, long second_ms = 10, unsigned seed = 1, bool hold = false)
	{
		feedmock_timing t;
		t.start_delay_ms = start_delay_ms;
		t.second_ms = second_ms;
		t.seed = seed;
		held.store(hold ? 1 : 0);
		t.hold_start = &held;
		runner = std::thread([this, t] {
			testing::internal::CaptureStderr();
			feedmock_run(&s, t);
			stderr_text = testing::internal::GetCapturedStderr();
		});
	}

	void stop()
	{
		s.running.store(0);
		if (runner.joinable())
			runner.join();
		feedmock_shutdown(&s);
	}

	void TearDown() override
	{
		stop();
		EXPECT_EQ(client_count(), 0u);
		EXPECT_EQ(th::count_fds(getpid()), fds_before) << "descriptor leaked";
	}

	th::Conn client()
	{
		th::Conn c = th::connect_to(s.port);
		EXPECT_TRUE(c.ok());
		// A status reply shows that its thread runs and it is listed.
		c.send_text("GETSTATUS\n");
		EXPECT_TRUE(ends_status(c.read_until(ends_status, th::patience_ms)));
		return c;
	}

	// Asks GETMSG until n messages arrived or timeout_ms pass.
	static std::string fetch(const th::Conn &c, size_t n, int timeout_ms)
	{
		std::string all;
		auto end = th::Clock::now() + th::milliseconds(timeout_ms);
		while (count_of(all, "NNNN\n") < n && th::Clock::now() < end) {
			c.send_text("GETMSG");
			size_t had = count_of(all, "NNNN\n");
			all += c.read_until(
				[&](const std::string &t) { return count_of(all + t, "NNNN\n") > had; },
				100);
		}
		return all;
	}

	feedmock_settings s;
	std::atomic<int> held{0};
	std::thread runner;
	std::string stderr_text;
	int fds_before = 0;
};

} // namespace

TEST_F(FeedmockServer, IdleDuringStartDelayAndExitKeepsConnection)
{
	start(600000);
	th::Conn c = client();
	c.send_text("GETSTATUS\r\n");
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms), idle_status);
	c.send_text("GETMSG\n");
	EXPECT_EQ(c.read_for(300), ""); // nothing queued: no reply at all
	c.send_text("EXIT\n");
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms), idle_status);
	c.send_text("getmsg\n"); // not the command word: a status request
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms), idle_status);
	EXPECT_FALSE(c.closed_within(200));
}

TEST_F(FeedmockServer, LeadInFrequencyShowsInStatus)
{
	start(600000);
	th::Conn c = client();
	s.leadin_freq.store(4209);
	c.send_text("GETSTATUS");
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms),
		  "GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:IDLE,SIG:0.0\n"
		  "FREQ:4209,ST:RCV,SIG:0.0\n");
	s.leadin_freq.store(0);
	c.send_text("GETSTATUS");
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms), idle_status);
}

TEST_F(FeedmockServer, StructuredTrafficReachesEveryClientOnce)
{
	s.structured = 1;
	s.stations = "AB";
	s.types = "XY";
	s.max_interval = 1; // both draws always 0
	s.max_leadin = 1;
	start(0, 10, 1, true);
	th::Conn a = client();
	th::Conn b = client();
	held.store(0); // both listed: traffic may start
	for (const th::Conn *c : {&a, &b}) {
		std::string got = fetch(*c, 4, th::patience_ms);
		std::vector<std::string> ids;
		for (const auto &m : th::split_replies(got)) {
			EXPECT_EQ(m.freq, "518");
			ids.push_back(m.id);
			EXPECT_TRUE(m.body == sample_texts[0] || m.body == sample_texts[1]);
		}
		EXPECT_EQ(ids, (std::vector<std::string>{"AX00", "AY01", "BX02", "BY03"}))
			<< got;
		// The lists are used up: nothing more arrives.
		c->send_text("GETMSG");
		EXPECT_EQ(c->read_for(400), "");
	}
	// And the last lead-in is over: every channel idle again.
	std::string st;
	auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
	for (;;) {
		a.send_text("GETSTATUS");
		st = a.read_until(ends_status, th::patience_ms);
		if (count_of(st, ",ST:IDLE") == 3 || th::Clock::now() > end)
			break;
		std::this_thread::sleep_for(th::milliseconds(10));
	}
	EXPECT_EQ(count_of(st, ",ST:IDLE"), 3u) << st;
	stop();
	EXPECT_EQ(s.counter, 5);
	EXPECT_NE(stderr_text.find("Sending structured meassage\n"), std::string::npos);
	EXPECT_NE(stderr_text.find("Structured messages used up"), std::string::npos);
}

TEST_F(FeedmockServer, RandomTrafficWithLeadIn)
{
	s.max_interval = 2;
	s.max_leadin = 100; // lead-in of up to 100 x 10 ms
	start(1000, 10, 7);
	th::Conn c = client();
	th::Conn watcher = client();
	// Each lead-in seen, with the number of messages fetched before: it
	// belongs to a later message, however far the fetching lags behind.
	std::vector<std::pair<std::string, size_t>> seen;
	std::string got;
	auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
	while (count_of(got, "NNNN\n") < 3 && th::Clock::now() < end) {
		watcher.send_text("GETSTATUS");
		std::string st = watcher.read_until(ends_status, th::patience_ms);
		size_t rcv = st.find(",ST:RCV");
		if (rcv != std::string::npos) {
			size_t f = st.rfind("FREQ:", rcv) + 5;
			seen.emplace_back(st.substr(f, rcv - f), count_of(got, "NNNN\n"));
		}
		EXPECT_LE(count_of(st, "RCV"), 1u) << st;
		got += fetch(c, 1, 20);
	}
	auto all_matched = [&] {
		auto msgs = th::split_replies(got);
		for (const auto &[freq, before] : seen) {
			bool found = false;
			for (size_t k = before; k < msgs.size() && !found; ++k)
				found = msgs[k].freq == freq;
			if (!found)
				return false;
		}
		return true;
	};
	while (!all_matched() && th::Clock::now() < end)
		got += fetch(c, 1, 100);
	auto msgs = th::split_replies(got);
	EXPECT_GE(msgs.size(), 3u) << got;
	for (const auto &m : msgs) {
		EXPECT_TRUE(m.freq == "490" || m.freq == "518" || m.freq == "4209") << m.freq;
		EXPECT_TRUE(th::is_identifier(m.id, 'A', 'Y')) << m.id;
		EXPECT_TRUE(m.body == sample_texts[0] || m.body == sample_texts[1]);
	}
	EXPECT_FALSE(seen.empty()) << "no lead-in seen";
	EXPECT_TRUE(all_matched()) << "a lead-in's frequency never came as a message\n" << got;
}

TEST_F(FeedmockServer, DeadClientsAreReapedAndShortTextsSkipped)
{
	start(600000);
	th::Conn keep = client();
	th::Conn gone = client();
	th::Conn reset = client();
	EXPECT_EQ(client_count(), 3u);
	gone.reset();
	th::abort_connection(reset);
	EXPECT_TRUE(reap_until(1)) << client_count();
	keep.send_text("GETMSG");
	EXPECT_EQ(keep.read_for(300), ""); // one character: not queued
	client_send("518\nZCZC\nTT01\nHELLO\nNNNN\n");
	keep.send_text("GETMSG");
	EXPECT_EQ(keep.read_until(ends_msg, th::patience_ms),
		  "GETMSG:\n518\nZCZC\nTT01\nHELLO\nNNNN\n");
}

TEST_F(FeedmockServer, ClosedClientsReapedWithoutTraffic)
{
	// The traffic loop sits in its start delay and hands nothing out: the
	// ended clients' threads are joined and freed all the same.
	start(600000);
	for (int k = 0; k < 3; ++k) {
		th::Conn c = client();
		if (k == 1)
			th::abort_connection(c);
	}
	auto end = th::Clock::now() + th::milliseconds(60000);
	while (client_count() > 0 && th::Clock::now() < end)
		std::this_thread::sleep_for(th::milliseconds(20));
	EXPECT_EQ(client_count(), 0u);
}

TEST_F(FeedmockServer, IdleClientQueueKeepsTheNewest)
{
	start(600000);
	th::Conn c = client();
	int verbose = 1;
	g_log_set_default_handler(log_to_stdout, &verbose);
	testing::internal::CaptureStdout();
	const guint n = feedmock_queue_max + 3;
	for (guint k = 0; k < n; ++k)
		client_send(("518\nZCZC\nTT" + std::to_string(k % 100) + "\nBODY " +
			     std::to_string(k) + "\nNNNN\n").c_str());
	std::string log = testing::internal::GetCapturedStdout();
	g_log_set_default_handler(log_to_stdout, &quiet);
	EXPECT_EQ(count_of(log, "full: oldest message dropped"), 3u) << log;
	// The three oldest went; the rest come in order.
	std::string got = fetch(c, feedmock_queue_max, th::patience_ms);
	auto msgs = th::split_replies(got);
	ASSERT_EQ(msgs.size(), feedmock_queue_max);
	EXPECT_EQ(msgs.front().body, "BODY 3\n");
	EXPECT_EQ(msgs.back().body, "BODY " + std::to_string(n - 1) + "\n");
}

TEST_F(FeedmockServer, SurvivesGarbageSilenceAndAbruptDisconnects)
{
	start(600000);
	th::Conn silent = client(); // holds a thread, sends nothing more

	th::Conn noisy = client();
	std::string garbage(4096, '\0');
	for (size_t i = 0; i < garbage.size(); ++i)
		garbage[i] = static_cast<char>((i * 7919 + 13) % 256);
	ASSERT_TRUE(noisy.send_text(garbage));
	noisy.send_text("GETSTATUS");
	// Every read of up to 255 bytes got a whole status reply: at least
	// 17 reads for the 4105 bytes.
	const size_t one = strlen(idle_status);
	std::string replies = noisy.read_until(
		[one](const std::string &t) { return t.size() >= 17 * one && t.size() % one == 0; },
		th::patience_ms);
	ASSERT_GE(replies.size(), 2 * one);
	EXPECT_EQ(replies.size() % one, 0u);
	EXPECT_EQ(replies.substr(replies.size() - one), idle_status);

	// Many requests and gone before the replies are read: the replies hit
	// a reset connection.
	for (int i = 0; i < 5; ++i) {
		th::Conn rude = client();
		for (int k = 0; k < 50; ++k)
			rude.send_text("GETSTATUS\n");
		th::abort_connection(rude);
	}
	EXPECT_TRUE(reap_until(2)) << client_count(); // silent and noisy are left
	client_send("490\nZCZC\nAA01\nX\nNNNN\n");
	EXPECT_EQ(s.running.load(), 1);

	th::Conn late = client();
	late.send_text("GETSTATUS");
	EXPECT_EQ(late.read_until(ends_status, th::patience_ms), idle_status);
	silent.send_text("GETMSG");
	EXPECT_EQ(silent.read_until(ends_msg, th::patience_ms),
		  "GETMSG:\n490\nZCZC\nAA01\nX\nNNNN\n");
}

TEST_F(FeedmockServer, TermSignalEndsTheStartDelay)
{
	feedmock_install_signals(&s);
	start(600000);
	th::Conn c = client();
	auto t0 = th::Clock::now();
	raise(SIGTERM);
	runner.join();
	// Long before the start delay would have ended.
	EXPECT_LT(th::Clock::now() - t0, th::milliseconds(30000));
	EXPECT_EQ(s.running.load(), 0);
	signal(SIGTERM, SIG_DFL);
	signal(SIGPIPE, SIG_DFL);
}

TEST(FeedmockSignals, PipeClearsRunning)
{
	static feedmock_settings s;
	feedmock_install_signals(&s);
	raise(SIGPIPE);
	EXPECT_EQ(s.running.load(), 0);
	signal(SIGTERM, SIG_DFL);
	signal(SIGPIPE, SIG_DFL);
}
