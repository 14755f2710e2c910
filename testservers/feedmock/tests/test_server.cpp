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
	auto end = th::Clock::now() + th::milliseconds(5000);
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

	void start(long start_delay_ms, long second_ms = 10, unsigned seed = 1)
	{
		feedmock_timing t;
		t.start_delay_ms = start_delay_ms;
		t.second_ms = second_ms;
		t.seed = seed;
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
		EXPECT_TRUE(ends_status(c.read_until(ends_status, 3000)));
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
	std::thread runner;
	std::string stderr_text;
	int fds_before = 0;
};

} // namespace

TEST_F(FeedmockServer, IdleDuringStartDelayAndExitKeepsConnection)
{
	start(60000);
	th::Conn c = client();
	c.send_text("GETSTATUS\r\n");
	EXPECT_EQ(c.read_until(ends_status, 2000), idle_status);
	c.send_text("GETMSG\n");
	EXPECT_EQ(c.read_for(300), ""); // nothing queued: no reply at all
	c.send_text("EXIT\n");
	EXPECT_EQ(c.read_until(ends_status, 2000), idle_status);
	c.send_text("getmsg\n"); // not the command word: a status request
	EXPECT_EQ(c.read_until(ends_status, 2000), idle_status);
	EXPECT_FALSE(c.closed_within(200));
}

TEST_F(FeedmockServer, LeadInFrequencyShowsInStatus)
{
	start(60000);
	th::Conn c = client();
	s.leadin_freq.store(4209);
	c.send_text("GETSTATUS");
	EXPECT_EQ(c.read_until(ends_status, 2000),
		  "GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:IDLE,SIG:0.0\n"
		  "FREQ:4209,ST:RCV,SIG:0.0\n");
	s.leadin_freq.store(0);
	c.send_text("GETSTATUS");
	EXPECT_EQ(c.read_until(ends_status, 2000), idle_status);
}

TEST_F(FeedmockServer, StructuredTrafficReachesEveryClientOnce)
{
	s.structured = 1;
	s.stations = "AB";
	s.types = "XY";
	s.max_interval = 1; // both draws always 0
	s.max_leadin = 1;
	start(1500);
	th::Conn a = client();
	th::Conn b = client();
	for (const th::Conn *c : {&a, &b}) {
		std::string got = fetch(*c, 4, 10000);
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
	std::set<std::string> receiving;
	std::string got;
	auto end = th::Clock::now() + th::milliseconds(15000);
	while (count_of(got, "NNNN\n") < 3 && th::Clock::now() < end) {
		watcher.send_text("GETSTATUS");
		std::string st = watcher.read_until(ends_status, 1000);
		size_t rcv = st.find(",ST:RCV");
		if (rcv != std::string::npos) {
			size_t f = st.rfind("FREQ:", rcv) + 5;
			receiving.insert(st.substr(f, rcv - f));
		}
		EXPECT_LE(count_of(st, "RCV"), 1u) << st;
		got += fetch(c, count_of(got, "NNNN\n") + 1, 20);
	}
	auto msgs = th::split_replies(got);
	EXPECT_EQ(msgs.size(), 3u) << got;
	for (const auto &m : msgs) {
		EXPECT_TRUE(m.freq == "490" || m.freq == "518" || m.freq == "4209") << m.freq;
		EXPECT_TRUE(th::is_identifier(m.id, 'A', 'Y')) << m.id;
		EXPECT_TRUE(m.body == sample_texts[0] || m.body == sample_texts[1]);
	}
	EXPECT_FALSE(receiving.empty()) << "no lead-in seen";
	for (const auto &f : receiving)
		EXPECT_NE(got.find("GETMSG:\n" + f + "\n"), std::string::npos) << f;
}

TEST_F(FeedmockServer, DeadClientsAreReapedAndShortTextsSkipped)
{
	start(60000);
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
	EXPECT_EQ(keep.read_until(ends_msg, 2000),
		  "GETMSG:\n518\nZCZC\nTT01\nHELLO\nNNNN\n");
}

TEST_F(FeedmockServer, SurvivesGarbageSilenceAndAbruptDisconnects)
{
	start(60000);
	th::Conn silent = client(); // holds a thread, sends nothing more

	th::Conn noisy = client();
	std::string garbage(4096, '\0');
	for (size_t i = 0; i < garbage.size(); ++i)
		garbage[i] = static_cast<char>((i * 7919 + 13) % 256);
	ASSERT_TRUE(noisy.send_text(garbage));
	noisy.send_text("GETSTATUS");
	// Every read of up to 255 bytes got a whole status reply.
	std::string replies = noisy.read_for(1000);
	const size_t one = strlen(idle_status);
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
	EXPECT_EQ(late.read_until(ends_status, 2000), idle_status);
	silent.send_text("GETMSG");
	EXPECT_EQ(silent.read_until(ends_msg, 2000),
		  "GETMSG:\n490\nZCZC\nAA01\nX\nNNNN\n");
}

TEST_F(FeedmockServer, TermSignalEndsTheStartDelay)
{
	feedmock_install_signals(&s);
	start(60000);
	th::Conn c = client();
	auto t0 = th::Clock::now();
	raise(SIGTERM);
	runner.join();
	EXPECT_LT(th::Clock::now() - t0, th::milliseconds(2000));
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
