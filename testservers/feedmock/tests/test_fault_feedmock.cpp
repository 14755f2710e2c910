// feedmock under hostile clients: binary garbage, oversized and cut
// requests, connections reset before, during and after a reply, while its
// traffic runs.  Afterwards a well-behaved client must still get status
// replies and every further message, and no client thread or descriptor
// may be left behind.
#include "feedmock.h"
#include "replies.h"
#include "tcp_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Connections the accept thread has taken, counted from its log.
std::atomic<int> accepted{0};

void count_accepts(const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
	if (g_str_has_prefix(message, "got connection from "))
		++accepted;
}

bool ends_status(const std::string &s)
{
	return s.find("FREQ:4209,ST:") != std::string::npos && s.back() == '\n';
}

size_t messages_in(const std::string &s)
{
	return th::split_replies(s).size();
}

class FeedmockFaults : public testing::Test {
protected:
	void SetUp() override
	{
		accepted = 0;
		g_log_set_default_handler(count_accepts, nullptr);
		fds_before = th::count_fds(getpid());
		s.port = th::free_port();
		// Random traffic never runs out: a message every 20 ms on average.
		s.max_interval = 3;
		s.max_leadin = 1;
		feedmock_timing t;
		t.start_delay_ms = 0;
		t.second_ms = 20;
		t.seed = 3;
		runner = std::thread([this, t] {
			testing::internal::CaptureStderr();
			feedmock_run(&s, t);
			testing::internal::GetCapturedStderr();
		});
	}
	void TearDown() override
	{
		s.running.store(0);
		if (runner.joinable())
			runner.join();
		feedmock_shutdown(&s);
		EXPECT_EQ(client_count(), 0u);
		EXPECT_EQ(th::count_fds(getpid()), fds_before) << "descriptor leaked";
	}

	// GETMSG until `n` more messages came or `timeout_ms` passed.
	static std::string fetch(const th::Conn &c, size_t n, int timeout_ms)
	{
		std::string all;
		auto end = th::Clock::now() + th::milliseconds(timeout_ms);
		while (messages_in(all) < n && th::Clock::now() < end) {
			c.send_text("GETMSG");
			all += c.read_for(30);
		}
		return all;
	}

	// Connects once the accept thread has taken every earlier connection:
	// with a listen backlog of 1, a burst of connections overflows it and
	// each further connect waits in the kernel's retries for a second or
	// more.
	th::Conn connect_next()
	{
		auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
		while (accepted.load() < made && th::Clock::now() < end)
			std::this_thread::sleep_for(th::milliseconds(1));
		++made;
		return th::connect_to(s.port);
	}

	feedmock_settings s;
	std::thread runner;
	int fds_before = 0;
	int made = 0;
};

} // namespace

TEST_F(FeedmockFaults, GarbageAndResetsLeaveItServing)
{
	std::mt19937 rng(11);
	std::vector<th::Conn> held;
	for (int k = 0; k < 60; ++k) {
		th::Conn c = connect_next();
		ASSERT_TRUE(c.ok()) << "connection " << k << " refused";
		std::string junk(1 + rng() % 5000, '\0');
		for (char &ch : junk)
			ch = static_cast<char>(rng());
		switch (k % 6) {
		case 0: // garbage, then reset before any reply is read
			c.send_text(junk);
			th::abort_connection(c);
			break;
		case 1: // a request cut short, then gone
			c.send_text("GETMS");
			c.reset();
			break;
		case 2: // GETMSG and reset while the message may be on its way
			c.send_text("GETMSG");
			th::abort_connection(c);
			break;
		case 3: // connected and gone without a word
			th::abort_connection(c);
			break;
		case 4: // garbage with a command word inside, connection kept
			c.send_text(junk.substr(0, 100) + "GETMSG" + junk.substr(100, 200));
			held.push_back(std::move(c));
			break;
		default: // NUL bytes before the command word
			c.send_text(std::string("\0\0\0GETSTATUS", 12));
			held.push_back(std::move(c));
			break;
		}
	}
	// The held garbage clients get what their text asked for or nothing;
	// then they are reset too, with replies possibly unread.
	for (auto &c : held)
		th::abort_connection(c);

	th::Conn good = connect_next();
	ASSERT_TRUE(good.ok());
	good.send_text("GETSTATUS\n");
	EXPECT_TRUE(ends_status(good.read_until(ends_status, th::patience_ms)));
	std::string got = fetch(good, 3, th::patience_ms);
	auto msgs = th::split_replies(got);
	ASSERT_GE(msgs.size(), 3u) << got;
	for (const auto &m : msgs)
		EXPECT_TRUE(m.body == sample_texts[0] || m.body == sample_texts[1]) << m.body;
	EXPECT_EQ(s.running.load(), 1) << "traffic stopped after the resets";
}

TEST_F(FeedmockFaults, ManyShortLivedClientsAreReaped)
{
	for (int k = 0; k < 40; ++k) {
		th::Conn c = connect_next();
		ASSERT_TRUE(c.ok());
		if (k % 2)
			th::abort_connection(c);
	}
	th::Conn good = connect_next();
	ASSERT_TRUE(good.ok());
	EXPECT_GE(messages_in(fetch(good, 2, th::patience_ms)), 2u);
	// The dead records are reaped.
	auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
	while (client_count() > 1 && th::Clock::now() < end)
		std::this_thread::sleep_for(th::milliseconds(20));
	EXPECT_EQ(client_count(), 1u);
}
