// The built feedmock program: command line, start delay, a whole
// structured run with two clients, and SIGTERM.
#include "feedmock.h"
#include "tcp_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include "replies.h"

namespace {

const char *const idle_status =
	"GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:IDLE,SIG:0.0\n"
	"FREQ:4209,ST:IDLE,SIG:0.0\n";

bool ends_status(const std::string &s)
{
	return s.find("FREQ:4209,ST:") != std::string::npos && s.back() == '\n';
}

size_t count_of(const std::string &s, const std::string &needle)
{
	size_t n = 0;
	for (size_t p = s.find(needle); p != std::string::npos; p = s.find(needle, p + 1))
		++n;
	return n;
}

class FeedmockProgram : public testing::Test {
protected:
	void SetUp() override { dir = th::temp_dir(); }
	void TearDown() override { std::filesystem::remove_all(dir); }

	std::unique_ptr<th::Child> run(std::vector<std::string> args)
	{
		args.insert(args.begin(), FEEDMOCK_BIN);
		return std::make_unique<th::Child>(args, dir + "/out", dir + "/err");
	}

	std::string dir;
};

} // namespace

TEST_F(FeedmockProgram, CommandLineExitStatuses)
{
	auto help = run({"-h"});
	EXPECT_EQ(help->wait_exit(th::patience_ms), 0);
	EXPECT_EQ(help->err(), feedmock_usage_text() + feedmock_version_banner() + "\n");
	EXPECT_EQ(help->out(), "");

	auto freq = run({"-f", "1000"});
	EXPECT_EQ(freq->wait_exit(th::patience_ms), 0);
	EXPECT_NE(freq->err().find("Usage: feedmock [OPTIONS]"), std::string::npos);

	auto neg = run({"-S", "-n", "-5"});
	EXPECT_EQ(neg->wait_exit(th::patience_ms), 1);
	EXPECT_NE(neg->err().find("must not be negative: -5"), std::string::npos);
}

TEST_F(FeedmockProgram, StartDelayServesIdleStatusAndTermEndsIt)
{
	int port = th::free_port();
	auto p = run({"-p", std::to_string(port), "-V", "1"});
	th::Conn c = th::connect_to(port);
	ASSERT_TRUE(c.ok());
	c.send_text("GETSTATUS\n");
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms), idle_status);
	c.send_text("GETMSG\n");
	EXPECT_EQ(c.read_for(300), "");
	c.send_text("EXIT\n");
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms), idle_status);
	c.send_text("GETSTATUS\n");
	EXPECT_EQ(c.read_until(ends_status, th::patience_ms), idle_status);

	p->signal(SIGTERM);
	EXPECT_EQ(p->wait_exit(th::patience_ms), 0);
	EXPECT_TRUE(c.closed_within(th::patience_ms));
	EXPECT_NE(p->err().find("starting.......\n"), std::string::npos);
	std::string out = p->out();
	EXPECT_NE(out.find("Waiting for connections.\n"), std::string::npos);
	EXPECT_NE(out.find("got connection from 127.0.0.1\n"), std::string::npos);
	EXPECT_NE(out.find("Thread created succesfully\n"), std::string::npos);
}

// Runs through the whole 20-second start delay: the only way to see the
// real program hand out traffic.
TEST_F(FeedmockProgram, StructuredRunToTwoClients)
{
	int port = th::free_port();
	auto p = run({"-p", std::to_string(port), "-V", "1", "-S", "-s", "AB", "-t", "XY",
		      "-i", "1", "-l", "1", "-f", "490"});
	th::Conn a = th::connect_to(port);
	th::Conn b = th::connect_to(port);
	ASSERT_TRUE(a.ok() && b.ok());
	for (th::Conn *c : {&a, &b}) {
		c->send_text("GETSTATUS");
		EXPECT_EQ(c->read_until(ends_status, th::patience_ms), idle_status);
	}
	// All four messages go out at once after the delay.
	ASSERT_TRUE(p->wait_output("Message 4 sent.", 20000 + th::patience_ms)) << p->out();
	for (th::Conn *c : {&a, &b}) {
		std::string got;
		for (int k = 0; k < 4; ++k) {
			c->send_text("GETMSG");
			got += c->read_until(
				[&](const std::string &t) {
					return count_of(t, "NNNN\n") == 1;
				},
				th::patience_ms);
		}
		// Nothing more is queued.
		c->send_text("GETMSG");
		got += c->read_for(300);
		std::vector<std::string> ids;
		for (const auto &m : th::split_replies(got)) {
			EXPECT_EQ(m.freq, "490");
			ids.push_back(m.id);
		}
		EXPECT_EQ(ids, (std::vector<std::string>{"AX00", "AY01", "BX02", "BY03"}));
		EXPECT_EQ(count_of(got, "GETMSG:\n"), 4u);
	}
	// peer_name and peer_port come from the accepted address.
	sockaddr_in local{};
	socklen_t len = sizeof(local);
	getsockname(a.fd(), reinterpret_cast<sockaddr *>(&local), &len);
	std::string send_line = "SEND (127.0.0.1:" + std::to_string(ntohs(local.sin_port)) +
				"): 490\nZCZC\nAX00\n";
	std::string out = p->out();
	EXPECT_NE(out.find(send_line), std::string::npos) << out;
	EXPECT_NE(p->err().find("Sending message: BY03 490 kHz\n"), std::string::npos);
	// With -i 1 and -l 1 every pause and lead-in is 0 seconds.
	EXPECT_EQ(count_of(out, "Waiting 0 seconds\n"),
		  count_of(out, "Waiting ") - count_of(out, "Waiting for connections."));
	EXPECT_GE(count_of(out, "Waiting 0 seconds\n"), 5u);
	EXPECT_EQ(count_of(out, "Doing lead-in for 0 seconds\n"), 4u);
	EXPECT_EQ(count_of(out, "Doing lead-in for "), 4u);

	p->signal(SIGTERM);
	EXPECT_EQ(p->wait_exit(th::patience_ms), 0);
}

#ifdef NAVCLIENT_BIN
// The project's client reads the status and sends EXIT (answered with the
// status here).  GETMSG with nothing queued gets no reply from feedmock,
// which the client reports as a timeout.
TEST_F(FeedmockProgram, ProjectClientTalksToIt)
{
	int port = th::free_port();
	auto p = run({"-p", std::to_string(port)});
	th::Conn probe = th::connect_to(port);
	ASSERT_TRUE(probe.ok());
	// The reply wait is long where a reply must come, short where none may.
	auto client = [&](std::vector<std::string> args, int wait_ms) {
		args.insert(args.begin(), {NAVCLIENT_BIN, "-p", std::to_string(port), "-w",
					   std::to_string(wait_ms)});
		auto c = std::make_unique<th::Child>(args, dir + "/cout", dir + "/cerr");
		c->wait_exit(2 * th::patience_ms);
		return c;
	};
	auto status = client({"status"}, th::patience_ms);
	EXPECT_EQ(status->wait_exit(0), 0) << status->err();
	EXPECT_EQ(status->out(), idle_status);
	auto exit_req = client({"send", "EXIT\n"}, th::patience_ms);
	EXPECT_EQ(exit_req->wait_exit(0), 0) << exit_req->err();
	EXPECT_EQ(exit_req->out(), idle_status);
	auto getmsg = client({"getmsg"}, 500);
	EXPECT_EQ(getmsg->wait_exit(0), 1);
	EXPECT_EQ(getmsg->out(), "");
	p->signal(SIGTERM);
	EXPECT_EQ(p->wait_exit(th::patience_ms), 0);
}
#endif
