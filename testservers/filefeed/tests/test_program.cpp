// The built filefeed program on a free loopback port.
#include "tcp_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace {

const char *const receiving =
	"GETSTATUS:\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:RCV,SIG:0.0\n"
	"FREQ:4209,ST:IDLE,SIG:0.0\n";

const char *const three_messages =
	"ZCZC EA01\nFIRST MESSAGE\nNNNN\n"
	"ZCZC EB02\nSECOND MESSAGE\nNNNN\n"
	"ZCZC EC03\nTHIRD MESSAGE\nNNNN\n";

bool status_done(const std::string &s)
{
	return s == "GETSTATUS:" || s.find("FREQ:4209,ST:IDLE,SIG:0.0\n") != std::string::npos;
}

bool msg_done(const std::string &s)
{
	return s.size() >= 5 && s.compare(s.size() - 5, 5, "\nNNNN") == 0;
}

class FilefeedProgram : public testing::Test {
protected:
	void SetUp() override { dir = th::temp_dir(); }
	void TearDown() override { std::filesystem::remove_all(dir); }

	std::string write_file(const std::string &name, const std::string &text)
	{
		std::ofstream(dir + "/" + name, std::ios::binary) << text;
		return dir + "/" + name;
	}

	std::unique_ptr<th::Child> run(std::vector<std::string> args)
	{
		args.insert(args.begin(), FILEFEED_BIN);
		return std::make_unique<th::Child>(args, dir + "/out", dir + "/err", dir);
	}

	std::unique_ptr<th::Child> serve(const std::string &text, int interval = 0)
	{
		port = th::free_port();
		write_file("navtexMsg.txt", text);
		return run({"-p", std::to_string(port), "-i", std::to_string(interval)});
	}

	static std::string status(const th::Conn &c, const char *req = "GETSTATUS\n")
	{
		c.send_text(req);
		return c.read_until(status_done, th::patience_ms);
	}

	// Asks for the status, with idle pauses so the waits can pass, until a
	// message is pending (that request counts down once).
	static bool until_pending(const th::Conn &c)
	{
		auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
		do {
			if (status(c) == receiving)
				return true;
			std::this_thread::sleep_for(th::milliseconds(150));
		} while (th::Clock::now() < end);
		return false;
	}

	// Waits for the next pending message, makes up the status requests
	// still needed (2 for the first message, 14 afterwards) and fetches it.
	static std::string next_message(const th::Conn &c, bool first)
	{
		if (!until_pending(c))
			return "";
		for (int k = 0; k < (first ? 2 : 14); ++k)
			status(c);
		c.send_text("GETMSG\n");
		return c.read_until(msg_done, th::patience_ms);
	}

	std::string dir;
	int port = 0;
};

} // namespace

TEST_F(FilefeedProgram, FreshServerAndCountdownThenFifteen)
{
	auto p = serve(three_messages);
	th::Conn c = th::connect_to(port);
	ASSERT_TRUE(c.ok());
	// Nothing is pending until the first wait, one idle tick, has passed;
	// a busy machine may take longer than that to get here.
	std::string first = status(c);
	if (first == "GETSTATUS:") {
		c.send_text("GETMSG\n");
		EXPECT_EQ(c.read_for(200), "");
		ASSERT_TRUE(until_pending(c));
	} else {
		// The first of three status requests; the wait had passed.
		EXPECT_EQ(first, receiving);
		EXPECT_NE(p->out().find("Waiting "), std::string::npos);
	}
	EXPECT_EQ(status(c), receiving);
	c.send_text("GETMSG\r\n");
	EXPECT_EQ(c.read_for(250), ""); // two of three status requests so far
	EXPECT_EQ(status(c), receiving);
	c.send_text("GETMSG\r\n");
	EXPECT_EQ(c.read_until(msg_done, th::patience_ms),
		  "GETMSG:\nZCZC EA01\nFIRST MESSAGE\n\nNNNN");

	ASSERT_TRUE(until_pending(c));
	for (int k = 2; k <= 14; ++k)
		EXPECT_EQ(status(c), receiving) << k;
	c.send_text("GETMSG");
	EXPECT_EQ(c.read_for(250), "");
	EXPECT_EQ(status(c), receiving); // the fifteenth
	c.send_text("GETMSG");
	EXPECT_EQ(c.read_until(msg_done, th::patience_ms),
		  "GETMSG:\nZCZC EB02\nSECOND MESSAGE\n\nNNNN");

	std::string out = p->out();
	EXPECT_NE(out.find("get STATUS\nRECEIVING\n"), std::string::npos);
	EXPECT_NE(out.find("GETMGS:\nZCZC EA01\nFIRST MESSAGE\n\nNNNN\n"), std::string::npos);
	EXPECT_NE(out.find("Waiting "), std::string::npos);
	EXPECT_NE(out.find("new socket: "), std::string::npos);
}

TEST_F(FilefeedProgram, MessagesComeRoundInFileOrder)
{
	auto p = serve(three_messages);
	th::Conn c = th::connect_to(port);
	ASSERT_TRUE(c.ok());
	std::vector<std::string> got;
	for (int m = 0; m < 4; ++m)
		got.push_back(next_message(c, m == 0));
	EXPECT_EQ(got, (std::vector<std::string>{
			       "GETMSG:\nZCZC EA01\nFIRST MESSAGE\n\nNNNN",
			       "GETMSG:\nZCZC EB02\nSECOND MESSAGE\n\nNNNN",
			       "GETMSG:\nZCZC EC03\nTHIRD MESSAGE\n\nNNNN",
			       "GETMSG:\nZCZC EA01\nFIRST MESSAGE\n\nNNNN"}));
}

TEST_F(FilefeedProgram, RequestLinesAreExact)
{
	auto p = serve(three_messages);
	th::Conn c = th::connect_to(port);
	ASSERT_TRUE(c.ok());
	EXPECT_FALSE(status(c, "GETSTATUS\r\n").empty());
	for (const char *ignored : {"GETSTATUS please\n", "getstatus\n", "GETMSG now\n",
				    "getmsg\n", "EXIT\n", "HELLO"}) {
		c.send_text(ignored);
		EXPECT_EQ(c.read_for(150), "") << ignored;
	}
	EXPECT_FALSE(status(c).empty()); // still served
	c.send_text("quit\n");
	EXPECT_TRUE(c.closed_within(th::patience_ms));
	EXPECT_TRUE(p->wait_output("Closing ", th::patience_ms));
}

TEST_F(FilefeedProgram, ThirdClientIsClosedAtOnce)
{
	auto p = serve(three_messages);
	th::Conn a = th::connect_to(port);
	th::Conn b = th::connect_to(port);
	ASSERT_FALSE(status(a).empty());
	ASSERT_FALSE(status(b).empty());
	th::Conn third = th::connect_to(port);
	ASSERT_TRUE(third.ok());
	EXPECT_TRUE(third.closed_within(th::patience_ms));
	EXPECT_TRUE(p->wait_output("Max connections reached!\n", th::patience_ms));

	a.send_text("quit");
	EXPECT_TRUE(a.closed_within(th::patience_ms));
	th::Conn fourth = th::connect_to(port);
	EXPECT_FALSE(status(fourth).empty()); // the freed place is taken again
	EXPECT_FALSE(status(b).empty());
}

TEST_F(FilefeedProgram, SurvivesGarbageSilenceAndAbruptDisconnects)
{
	// A big message so that a reply can be cut off by a reset.
	std::string big = "ZCZC ZZ99\n" + std::string(300000, 'X') + "\nNNNN\n";
	auto p = serve(big);
	th::Conn probe = th::connect_to(port);
	ASSERT_FALSE(status(probe).empty());
	int fds = th::count_fds(p->pid());
	// Each client below goes before the next comes: two places only.
	auto closings = [&](size_t n) {
		auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
		while (th::Clock::now() < end) {
			std::string out = p->out();
			size_t c = 0;
			for (size_t k = out.find("Closing "); k != std::string::npos;
			     k = out.find("Closing ", k + 1))
				++c;
			if (c >= n)
				return true;
			std::this_thread::sleep_for(th::milliseconds(20));
		}
		return false;
	};

	{
		th::Conn silent = th::connect_to(port); // says nothing, then goes
		EXPECT_FALSE(status(probe).empty());
	}
	ASSERT_TRUE(closings(1));
	{
		th::Conn noisy = th::connect_to(port);
		std::string garbage(4096, 'G');
		for (size_t i = 0; i < garbage.size(); i += 7)
			garbage[i] = static_cast<char>(i % 256);
		noisy.send_text(garbage);
		EXPECT_EQ(noisy.read_for(200), "");
		// One read is one request: a request that shares its read with the
		// garbage's tail is lost, the next one is served.
		std::string r;
		auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
		while (r.empty() && th::Clock::now() < end) {
			noisy.send_text("GETSTATUS\n");
			r = noisy.read_until(status_done, 1000);
		}
		EXPECT_FALSE(r.empty());
		th::abort_connection(noisy);
	}
	ASSERT_TRUE(closings(2));
	// A client gone before its message could be sent: the server goes on,
	// and unless the message reached it after all, it is still pending.
	ASSERT_TRUE(until_pending(probe));
	status(probe);
	status(probe);
	{
		th::Conn rude = th::connect_to(port);
		rude.send_text("GETMSG\n");
		th::abort_connection(rude);
	}
	ASSERT_TRUE(closings(3));
	EXPECT_TRUE(p->running());
	if (p->out().find("GETMGS:") == std::string::npos) {
		probe.send_text("GETMSG\n");
		std::string m = probe.read_until(msg_done, th::patience_ms);
		EXPECT_EQ(m.size(), 8 + big.size() - 5 + 5) << m.substr(0, 40);
		EXPECT_EQ(m.rfind("GETMSG:\nZCZC ZZ99\n", 0), 0u);
	}

	EXPECT_EQ(th::count_fds(p->pid()), fds) << "descriptor leaked";
	EXPECT_TRUE(p->running());
}

TEST_F(FilefeedProgram, StartUpFailures)
{
	auto opt = run({"-z"});
	EXPECT_EQ(opt->wait_exit(th::patience_ms), 1);
	EXPECT_EQ(opt->out(), "Illegal option\n");

	auto port_bad = run({"-p", "nine"});
	EXPECT_EQ(port_bad->wait_exit(th::patience_ms), 1);
	EXPECT_EQ(port_bad->out(), "Illegal port value specified\n");

	auto missing = run({"-p", std::to_string(th::free_port())}); // no ./navtexMsg.txt
	EXPECT_EQ(missing->wait_exit(th::patience_ms), 1);
	EXPECT_EQ(missing->err(), "open: No such file or directory\n");

	std::filesystem::create_directory(dir + "/adir");
	auto directory = run({"-f", dir + "/adir"});
	EXPECT_EQ(directory->wait_exit(th::patience_ms), 1);
	EXPECT_EQ(directory->err(), "open: Is a directory\n");

	// The port taken by another listener.
	int taken = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_ANY);
	a.sin_port = htons(static_cast<uint16_t>(th::free_port()));
	ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr *>(&a), sizeof(a)), 0);
	ASSERT_EQ(listen(taken, 1), 0);
	auto busy = run({"-p", std::to_string(ntohs(a.sin_port)), "-f",
			 write_file("m.txt", three_messages)});
	EXPECT_EQ(busy->wait_exit(th::patience_ms), 1);
	EXPECT_EQ(busy->err(), "bind: Address already in use\n");
	close(taken);
}

TEST_F(FilefeedProgram, DescriptorTenEndsTheServer)
{
	write_file("navtexMsg.txt", three_messages);
	port = th::free_port();
	// 3 to 7 taken: the listener is 8, a client 9 and the next one 10.
	th::Child p({FILEFEED_BIN, "-p", std::to_string(port)}, dir + "/out", dir + "/err",
		    dir, 5);
	th::Conn a = th::connect_to(port);
	ASSERT_FALSE(status(a).empty());
	th::Conn b = th::connect_to(port);
	EXPECT_EQ(p.wait_exit(th::patience_ms), 1);
	EXPECT_NE(p.out().find("new socket: 9\n"), std::string::npos) << p.out();
	EXPECT_NE(p.out().find("new socket: 10\nMax number of fd's reached\n"), std::string::npos)
		<< p.out();

	// 3 to 9 taken: the listener itself would be 10.
	th::Child q({FILEFEED_BIN, "-p", std::to_string(th::free_port())}, dir + "/out2",
		    dir + "/err2", dir, 7);
	EXPECT_EQ(q.wait_exit(th::patience_ms), 1);
	EXPECT_EQ(q.out(), "Max number of fd's reached\n");
}

TEST_F(FilefeedProgram, HexPortAndFileWithoutSeparator)
{
	port = th::free_port();
	char hex[16];
	snprintf(hex, sizeof(hex), "0x%x", port);
	auto p = run({"-p", hex, "-i", "0", "-f", write_file("plain.txt", "PLAIN TEXT\n")});
	th::Conn c = th::connect_to(port);
	ASSERT_TRUE(c.ok());
	// The whole file, every time.
	EXPECT_EQ(next_message(c, true), "GETMSG:\nPLAIN TEXT\n\nNNNN");
	EXPECT_EQ(next_message(c, false), "GETMSG:\nPLAIN TEXT\n\nNNNN");
}

TEST_F(FilefeedProgram, EmptyFileAndNulBytesServedWhole)
{
	// An empty file is one empty message, like a file without separator.
	auto empty = serve("");
	th::Conn e = th::connect_to(port);
	ASSERT_TRUE(e.ok());
	EXPECT_EQ(next_message(e, true), "GETMSG:\n\nNNNN");

	// A NUL inside a message: sent and logged whole, line ends and all.
	const std::string nul("ZCZC EA01\nA\0B\nNNNN\n", 19);
	auto p = serve(nul);
	th::Conn c = th::connect_to(port);
	ASSERT_TRUE(c.ok());
	const std::string body("ZCZC EA01\nA\0B\n", 14);
	EXPECT_EQ(next_message(c, true), "GETMSG:\n" + body + "\nNNNN");
	EXPECT_TRUE(p->wait_output("GETMGS:\n" + body + "\nNNNN\n", th::patience_ms)) << p->out();
}

#ifdef NAVCLIENT_BIN
// The project's client reads the status, bare or with the receiving lines.
// GETMSG is answered only after the status countdown, so one-shot getmsg
// from the client times out.
TEST_F(FilefeedProgram, ProjectClientReadsStatus)
{
	auto p = serve(three_messages);
	// The reply wait is long where a reply must come, short where none may.
	auto client = [&](std::vector<std::string> args, int wait_ms) {
		args.insert(args.begin(), {NAVCLIENT_BIN, "-p", std::to_string(port), "-w",
					   std::to_string(wait_ms)});
		auto c = std::make_unique<th::Child>(args, dir + "/cout", dir + "/cerr");
		c->wait_exit(2 * th::patience_ms);
		return c;
	};
	th::Conn probe = th::connect_to(port); // the server is up
	ASSERT_TRUE(probe.ok());
	probe.reset();
	ASSERT_TRUE(p->wait_output("Closing ", th::patience_ms));

	auto first = client({"status"}, th::patience_ms);
	EXPECT_EQ(first->wait_exit(0), 0) << first->err();
	EXPECT_EQ(first->out().rfind("GETSTATUS:", 0), 0u);

	std::string last;
	auto end = th::Clock::now() + th::milliseconds(th::patience_ms);
	while (last != receiving && th::Clock::now() < end)
		last = client({"status"}, th::patience_ms)->out();
	EXPECT_EQ(last, receiving);
	auto getmsg = client({"getmsg"}, 400);
	EXPECT_EQ(getmsg->wait_exit(0), 1);
}
#endif
