// filefeed under hostile clients: binary garbage, requests longer than
// one read, NUL bytes, connections reset mid-request and a churn of
// connections beyond its two client slots.  Afterwards it must still serve
// a well-behaved client the file's messages in order, with no descriptor
// left behind.
#include "tcp_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

namespace {

const char *const receiving =
	"GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:RCV,SIG:0.0\n"
	"FREQ:4209,ST:IDLE,SIG:0.0\n";

bool status_done(const std::string &s)
{
	return s == "GETSTATUS:" || s.find("FREQ:4209,ST:IDLE,SIG:0.0\n") != std::string::npos;
}

bool msg_done(const std::string &s)
{
	return s.size() >= 5 && s.compare(s.size() - 5, 5, "\nNNNN") == 0;
}

class FilefeedFaults : public testing::Test {
protected:
	void SetUp() override
	{
		dir = th::temp_dir();
		std::ofstream(dir + "/navtexMsg.txt", std::ios::binary)
			<< "ZCZC EA01\nFIRST MESSAGE\nNNNN\nZCZC EB02\nSECOND MESSAGE\nNNNN\n";
		port = th::free_port();
		server = std::make_unique<th::Child>(
			std::vector<std::string>{FILEFEED_BIN, "-p", std::to_string(port), "-i", "0"},
			dir + "/out", dir + "/err", dir);
		th::Conn probe = th::connect_to(port);
		ASSERT_TRUE(probe.ok());
		probe.send_text("quit\n");
		EXPECT_TRUE(probe.closed_within(th::patience_ms));
		accepted = 1;
	}
	void TearDown() override
	{
		server.reset();
		std::filesystem::remove_all(dir);
	}

	// The reply's header and its status lines are separate sends: when a
	// message is pending the lines follow the bare header at once.
	static std::string status(const th::Conn &c)
	{
		c.send_text("GETSTATUS\n");
		std::string text = c.read_until(status_done, th::patience_ms);
		if (text == "GETSTATUS:")
			text += c.read_until(
				[](const std::string &t) {
					return t.find("FREQ:4209,ST:IDLE,SIG:0.0\n") != std::string::npos;
				},
				300);
		return text;
	}

	// Connects once the server has taken every earlier connection: its
	// listen backlog is 1, and a connection beyond a full backlog waits
	// in the kernel's retries for seconds, however the test goes on.
	th::Conn connect_next()
	{
		auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
		while (count_of(server->out(), "new socket: ") < accepted && th::Clock::now() < end)
			std::this_thread::sleep_for(th::milliseconds(5));
		++accepted;
		return th::connect_to(port);
	}

	// Waits until the server has closed or refused every connection made
	// so far, so that both client slots are free again.
	void wait_all_gone()
	{
		auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
		auto gone = [&] {
			const std::string out = server->out();
			return count_of(out, "Closing ") + count_of(out, "Max connections reached!");
		};
		while (gone() < accepted && th::Clock::now() < end)
			std::this_thread::sleep_for(th::milliseconds(5));
	}

	static size_t count_of(const std::string &s, const std::string &needle)
	{
		size_t n = 0;
		for (size_t p = s.find(needle); p != std::string::npos; p = s.find(needle, p + 1))
			++n;
		return n;
	}

	std::string dir;
	int port = 0;
	size_t accepted = 0; // connections made so far
	std::unique_ptr<th::Child> server;
};

} // namespace

TEST_F(FilefeedFaults, GarbageAndResetsLeaveItServing)
{
	ASSERT_TRUE(server->running());
	const int fds = th::count_fds(server->pid());
	std::mt19937 rng(5);
	for (int k = 0; k < 60; ++k) {
		th::Conn c = connect_next();
		ASSERT_TRUE(c.ok()) << "connection " << k << " refused";
		std::string junk(1 + rng() % 9000, '\0');
		for (char &ch : junk)
			ch = static_cast<char>(rng());
		switch (k % 5) {
		case 0: // more than one read can take, then reset
			c.send_text(junk);
			th::abort_connection(c);
			break;
		case 1: // a request cut short
			c.send_text("GETSTAT");
			th::abort_connection(c);
			break;
		case 2: // NUL first: an empty request line
			c.send_text(std::string("\0GETSTATUS\n", 11));
			c.read_for(20);
			c.reset();
			break;
		case 3: // a status request whose reply is never read
			c.send_text("GETSTATUS\n");
			th::abort_connection(c);
			break;
		default: // garbage and an orderly close
			c.send_text(junk.substr(0, 300));
			c.reset();
			break;
		}
	}
	// Connections beyond the two slots, opened and dropped at once.
	for (int k = 0; k < 10; ++k) {
		th::Conn a = connect_next(), b = connect_next(), extra = connect_next();
		th::abort_connection(extra);
		th::abort_connection(a);
	}
	ASSERT_TRUE(server->running()) << server->out() << server->err();

	// Still serving, both messages in file order, once the churn's
	// connections have left the slots.
	wait_all_gone();
	th::Conn good = connect_next();
	ASSERT_TRUE(good.ok());
	std::vector<std::string> got;
	auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
	while (got.size() < 2 && th::Clock::now() < end) {
		if (status(good) != receiving) {
			// Waits pass only in idle 100 ms polls.
			std::this_thread::sleep_for(th::milliseconds(250));
			continue;
		}
		for (int k = 0; k < 15; ++k)
			status(good);
		good.send_text("GETMSG\r\n");
		std::string m = good.read_until(msg_done, th::patience_ms);
		if (!m.empty())
			got.push_back(m);
	}
	ASSERT_EQ(got.size(), 2u) << server->out();
	EXPECT_EQ(got[0], "GETMSG:\nZCZC EA01\nFIRST MESSAGE\n\nNNNN");
	EXPECT_EQ(got[1], "GETMSG:\nZCZC EB02\nSECOND MESSAGE\n\nNNNN");
	good.send_text("quit\n");
	EXPECT_TRUE(good.closed_within(th::patience_ms));

	// Every dropped connection was closed on the server's side too.
	auto settle = th::Clock::now() + th::milliseconds(th::patience_ms);
	while (th::count_fds(server->pid()) != fds && th::Clock::now() < settle)
		std::this_thread::sleep_for(th::milliseconds(20));
	EXPECT_EQ(th::count_fds(server->pid()), fds);
}
