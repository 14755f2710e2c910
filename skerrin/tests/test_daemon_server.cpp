// The built daemon serving clients while it decodes a paced recording,
// talked to with the built navclient.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <future>
#include <sys/socket.h>

#include "client.h"
#include "daemon_helpers.h"
#include "loopback_listener.h"

#if defined(SKERRIN_BIN) && defined(NAVCLIENT_BIN)

namespace {

struct Served : ::testing::Test {
	th::ScratchDir dir;
	int port = th::free_port();

	// A recording of quiet channels long enough to outlast the test when
	// paced at real time (-s 1000); the daemon is killed at the end.
	std::string quiet(int seconds)
	{
		std::string p = dir.file("quiet.raw");
		th::write_file(p, th::make_recording(seconds * 1700, 3, th::ramp));
		return p;
	}
	std::unique_ptr<th::Background> start(std::vector<std::string> extra)
	{
		std::vector<std::string> args = {SKERRIN_BIN, "-f", "-p", std::to_string(port)};
		args.insert(args.end(), extra.begin(), extra.end());
		auto bg = std::make_unique<th::Background>(args, dir.path().string());
		EXPECT_TRUE(bg->started());
		return bg;
	}
	// Race reports of a ThreadSanitizer build arrive while the daemon runs.
	static void no_race(th::Background &d)
	{
		EXPECT_EQ(d.err().find("ThreadSanitizer"), std::string::npos) << d.err();
	}
	bool wait_listening()
	{
		std::string err;
		// Generous: a busy machine may take long to start the daemon.
		auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
		while (std::chrono::steady_clock::now() < end) {
			int fd = client_connect("127.0.0.1", port, 1000, &err);
			if (fd >= 0) {
				const bool self = self_connected(fd);
				client_close(fd);
				if (!self)
					return true;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		}
		return false;
	}
	th::RunResult client(std::vector<std::string> args)
	{
		args.insert(args.begin(), {NAVCLIENT_BIN, "-p", std::to_string(port), "-w", "60000"});
		return th::run(args, dir.path().string(), std::chrono::seconds(60));
	}
};

} // namespace

TEST_F(Served, StatusEmptyQueueErrorAndExit)
{
	auto d = start({"-s", "1000", "-i", quiet(120)});
	ASSERT_TRUE(wait_listening());

	th::RunResult st = client({"status"});
	EXPECT_EQ(st.status, 0) << st.err;
	EXPECT_EQ(st.out.rfind("GETSTATUS:\nFREQ:490,ST:IDLE,DBM:", 0), 0u) << st.out;
	EXPECT_EQ(th::count(st.out, "\n"), 4);
	EXPECT_EQ(th::count(st.out, ",ST:IDLE,"), 3);
	EXPECT_NE(st.out.find("\nFREQ:518,ST:IDLE,DBM:"), std::string::npos);
	EXPECT_NE(st.out.find("\nFREQ:4209,ST:IDLE,DBM:"), std::string::npos);

	th::RunResult msg = client({"getmsg"});
	EXPECT_EQ(msg.status, 0) << msg.err;
	EXPECT_EQ(msg.out, "GETMSG:\n");

	th::RunResult bad = client({"send", "getmsg"});
	EXPECT_EQ(bad.status, 0) << bad.err;
	EXPECT_EQ(bad.out, "ERR:Command not supported\n");

	th::RunResult ex = client({"send", "EXIT"});
	EXPECT_EQ(ex.status, 0) << ex.err;
	EXPECT_EQ(ex.out, "");
	// Still serving, still decoding.
	EXPECT_EQ(client({"getmsg"}).out, "GETMSG:\n");
	no_race(*d);
}

TEST_F(Served, SecondClientWaitsUntilFirstLeaves)
{
	auto d = start({"-s", "1000", "-i", quiet(120)});
	ASSERT_TRUE(wait_listening());
	std::string err, reply;
	int first = client_connect("127.0.0.1", port, 60000, &err);
	ASSERT_GE(first, 0) << err;
	ASSERT_EQ(client_request(first, "GETSTATUS\n", &reply, 60000, &err), 0) << err;

	// The second client runs while the first holds the server.
	auto second = std::async(std::launch::async, [this] { return client({"-w", "20000", "status"}); });
	EXPECT_EQ(second.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout)
		<< "answered while the first client was connected";
	client_close(first);
	th::RunResult r = second.get();
	EXPECT_EQ(r.status, 0) << r.err << "|" << r.out << "|" << d->err();
	EXPECT_EQ(th::count(r.out, "ST:IDLE"), 3);
	no_race(*d);
}

TEST_F(Served, PortInUseDecodingGoesOn)
{
	int busy = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_ANY);
	a.sin_port = 0;
	ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr *>(&a), sizeof(a)), 0);
	ASSERT_EQ(listen(busy, 1), 0);
	socklen_t l = sizeof(a);
	getsockname(busy, reinterpret_cast<sockaddr *>(&a), &l);
	port = ntohs(a.sin_port);
	std::string x = dir.file("x.raw");
	auto d = start({"-C", x, "-x", "0", "-i", quiet(2)});
	EXPECT_EQ(d->wait(std::chrono::seconds(60)), 0);
	close(busy);
	EXPECT_NE(d->err().find("socket_tcp_server: bind returned err: Address already in use\n"),
		  std::string::npos)
		<< d->err();
	EXPECT_NE(d->out().find("Messages waiting...\n"), std::string::npos);
	EXPECT_EQ(std::filesystem::file_size(x), 2u * 1700 * 12);
}

TEST_F(Served, ClientReportsConnectionFailure)
{
	th::RunResult r = client({"status"});
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("navclient: connect to 127.0.0.1:" + std::to_string(port)),
		  std::string::npos)
		<< r.err;
	th::RunResult usage = client({"poll"});
	EXPECT_EQ(usage.status, 1);
	EXPECT_NE(usage.err.find("poll needs a message count"), std::string::npos);
}

#if defined(NAVSYNTH_BIN)
TEST_F(Served, DecodedMessageFetchedOnce)
{
	std::string rec = dir.file("msg.raw");
	th::RunResult syn = th::run({NAVSYNTH_BIN, "-k", "1", "-t", "ZCZC FA01\nTEST MESSAGE 123\nNNNN",
				     "-p", "3", "-e", "1", "-g", "0.5", "-o", rec},
				    dir.path().string());
	ASSERT_EQ(syn.status, 0) << syn.err;
	// About three times real time, then a quiet tail that keeps the daemon up.
	std::string tail = th::make_recording(120 * 1700, 3, th::ramp);
	th::write_file(rec, th::read_file(rec) + tail);
	auto d = start({"-s", "300", "-t", "1636228800", "-i", rec});
	ASSERT_TRUE(wait_listening());
	// Status asked all along, while the channel locks, receives and lets go.
	std::atomic<bool> fetched{false};
	auto status = std::async(std::launch::async, [this, &fetched] {
		std::string seen;
		for (int k = 0; k < 3000 && !fetched; k++) {
			seen += client({"status"}).out;
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		}
		return seen;
	});

	th::RunResult got = client({"-T", "60", "-i", "100", "poll", "1"});
	EXPECT_EQ(got.status, 0) << got.err;
	EXPECT_EQ(got.out.rfind("518\nZCZC\nFA01\nTEST MESSAGE 123\nNNNN\nERROR:0.00\nSIGNAL:", 0), 0u)
		<< got.out;
	// Stamped with the recording's clock, a few seconds after its start.
	size_t t = got.out.find("\nTIME:");
	ASSERT_NE(t, std::string::npos);
	long when = std::stol(got.out.substr(t + 6));
	EXPECT_GE(when, 1636228800 + 3);
	EXPECT_LE(when, 1636228800 + 8);
	EXPECT_EQ(client({"getmsg"}).out, "GETMSG:\n");
	fetched = true;
	std::string seen = status.get();
	EXPECT_NE(seen.find("FREQ:518,ST:RCV,"), std::string::npos) << seen;
	EXPECT_GT(th::count(seen, "GETSTATUS:\n"), 0);
	EXPECT_EQ(th::count(seen, "FREQ:490,ST:IDLE,"), th::count(seen, "GETSTATUS:\n"));
	no_race(*d);
}
#endif

#endif
