// The built daemon under faults around it: its port taken, clients that
// vanish in the middle of a reply or hold the connection without a word,
// a copy file on a full disk, and the input arriving through a pipe in
// odd-sized pieces.  In every case the daemon must decode the same
// messages as in a quiet run.  A load test hammers GETMSG and GETSTATUS
// while the daemon decodes: every message comes out exactly once, either
// to the client or in the exit listing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "client.h"
#include "daemon_helpers.h"

#if defined(SKERRIN_BIN) && defined(NAVSYNTH_BIN)

namespace {

using namespace std::chrono_literals;

// Four messages per channel, every identifier unique, so a message can be
// told by its identifier wherever it turns up.
const char *const kChannelTexts[3] = {
	"ZCZC OA01\nFIRST 490 MESSAGE. BUOY UNLIT.\nNNNN\n"
	"ZCZC OB02\nSECOND 490 MESSAGE, 12 KNOTS.\nNNNN\n"
	"ZCZC OC03\nTHIRD 490 MESSAGE. LIGHT 3 EXTINGUISHED.\nNNNN\n"
	"ZCZC OD04\nFOURTH 490 MESSAGE, CABLE WORK.\nNNNN\n",
	"ZCZC LA11\nGALE WARNING NR 7 FOR SEA AREA UTSIRA.\nNNNN\n"
	"ZCZC LB12\nWIND NW 8 VEERING N 9 LATER.\nNNNN\n"
	"ZCZC LC13\nSEA STATE ROUGH, VISIBILITY POOR.\nNNNN\n"
	"ZCZC LD14\nNEXT FORECAST AT 1800 UTC.\nNNNN\n",
	"ZCZC XE21\nNAVAREA I 42. DRIFTING CONTAINER.\nNNNN\n"
	"ZCZC XE22\nREPORT ANY SIGHTING TO COASTGUARD.\nNNNN\n"
	"ZCZC XE23\nFIRING EXERCISE 0900 TO 1500.\nNNNN\n"
	"ZCZC XE24\nWRECK MARKED BY 2 BUOYS.\nNNNN\n",
};
constexpr int kStartTime = 1700000000;

// One message as the exit listing shows it: "Freq: .., Message id: ..,
// Length .., ..." keyed by identifier.
struct Listed {
	int freq = 0;
	int length = 0;
	std::string line;
};

std::map<std::string, Listed> parse_listing(const std::string &out)
{
	std::map<std::string, Listed> msgs;
	size_t at = out.find("Messages waiting...\n");
	if (at == std::string::npos)
		return msgs;
	std::istringstream in(out.substr(at));
	std::string line;
	while (std::getline(in, line)) {
		size_t f = line.find("Freq: ");
		size_t id = line.find("Message id: ");
		size_t len = line.find("Length ");
		if (f == std::string::npos || id == std::string::npos || len == std::string::npos)
			continue;
		Listed l;
		l.freq = std::atoi(line.c_str() + f + 6);
		l.length = std::atoi(line.c_str() + len + 7);
		l.line = line.substr(f);
		msgs[line.substr(id + 12, 4)] = l;
	}
	return msgs;
}

int count_listed(const std::string &out)
{
	size_t at = out.find("Messages waiting...\n");
	return at == std::string::npos ? -1 : th::count(out.substr(at), "Freq: ");
}

// A message taken by a client: "GETMSG:\n<freq>\nZCZC\n<id>\n<text>\nERROR:..".
struct Taken {
	int freq = 0;
	std::string id;
	int length = 0;
};

bool parse_getmsg(const std::string &reply, Taken *t)
{
	if (reply.rfind("GETMSG:\n", 0) != 0 || reply.size() <= 8)
		return false;
	std::string body = reply.substr(8);
	size_t z = body.find("\nZCZC\n");
	size_t err = body.rfind("\nERROR:");
	if (z == std::string::npos || err == std::string::npos || err < z + 11)
		return false;
	t->freq = std::atoi(body.c_str());
	t->id = body.substr(z + 6, 4);
	t->length = static_cast<int>(err - (z + 11));
	return true;
}

// Reads until the reply to `request` is whole (the server sends it in one
// piece, which may arrive in several); false on timeout or close.
bool whole_reply(int fd, const std::string &request, std::string *reply, int channels)
{
	reply->clear();
	char buf[16384];
	for (;;) {
		if (request == "GETMSG" && (*reply == "GETMSG:\n" ||
					    (reply->size() > 8 && reply->find("\nTIME:") != std::string::npos &&
					     reply->back() == '\n')))
			return true;
		if (request == "GETSTATUS" && th::count(*reply, "\n") == channels + 1)
			return true;
		pollfd p{fd, POLLIN, 0};
		if (poll(&p, 1, 10000) != 1)
			return false;
		ssize_t n = recv(fd, buf, sizeof buf, 0);
		if (n <= 0)
			return false;
		reply->append(buf, static_cast<size_t>(n));
	}
}

int connect_to(int port)
{
	std::string err;
	return client_connect("127.0.0.1", port, 2000, &err);
}

// Drops the connection with a reset instead of an orderly close.
void vanish(int fd)
{
	linger l{1, 0};
	setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
	close(fd);
}

class DaemonFaults : public ::testing::Test {
protected:
	static th::ScratchDir *dir;
	static std::string recording;
	static th::RunResult reference;
	static std::map<std::string, Listed> expected;

	static void SetUpTestSuite()
	{
		signal(SIGPIPE, SIG_IGN);
		dir = new th::ScratchDir;
		std::vector<std::string> args = {NAVSYNTH_BIN, "-c", "3", "-g", "0.5", "-p", "3",
						 "-e", "1"};
		for (int c = 0; c < 3; ++c) {
			std::string f = dir->file("ch" + std::to_string(c) + ".txt");
			th::write_file(f, kChannelTexts[c]);
			args.insert(args.end(), {"-k", std::to_string(c), "-m", f});
		}
		recording = dir->file("three.raw");
		args.insert(args.end(), {"-o", recording});
		th::RunResult synth = th::run(args, dir->path().string(), 120s);
		ASSERT_EQ(synth.status, 0) << synth.err;
		reference = daemon({"-i", recording});
		ASSERT_EQ(reference.status, 0) << reference.err;
		expected = parse_listing(reference.out);
	}
	static void TearDownTestSuite()
	{
		delete dir;
		dir = nullptr;
	}

	static std::vector<std::string> daemon_args(std::vector<std::string> extra, int port = 0)
	{
		std::vector<std::string> args = {SKERRIN_BIN, "-f", "-t", std::to_string(kStartTime),
						 "-p", std::to_string(port ? port : th::free_port())};
		args.insert(args.end(), extra.begin(), extra.end());
		return args;
	}
	static th::RunResult daemon(std::vector<std::string> extra, int port = 0)
	{
		return th::run(daemon_args(extra, port), dir->path().string(), 300s);
	}
	static bool wait_listening(int port, th::Background &d)
	{
		// Generous: a busy machine may take long to start the daemon.
		const auto end = std::chrono::steady_clock::now() + 60s;
		while (std::chrono::steady_clock::now() < end) {
			int fd = connect_to(port);
			if (fd >= 0) {
				close(fd);
				return true;
			}
			if (!d.err().empty() && d.err().find("bind") != std::string::npos)
				return false;
			std::this_thread::sleep_for(10ms);
		}
		return false;
	}
	// The same listing as the quiet run: same messages, lengths, errors,
	// levels and (with the fixed start time) reception times.
	static void same_as_reference(const std::string &out)
	{
		auto got = parse_listing(out);
		ASSERT_EQ(got.size(), expected.size()) << out;
		for (const auto &[id, l] : expected) {
			ASSERT_TRUE(got.count(id)) << "missing " << id << "\n" << out;
			EXPECT_EQ(got[id].line, l.line);
		}
	}
};

th::ScratchDir *DaemonFaults::dir = nullptr;
std::string DaemonFaults::recording;
th::RunResult DaemonFaults::reference;
std::map<std::string, Listed> DaemonFaults::expected;

TEST_F(DaemonFaults, QuietRunDecodesEveryMessage)
{
	EXPECT_EQ(expected.size(), 12u) << reference.out;
	for (const char *id : {"OA01", "OB02", "OC03", "OD04", "LA11", "LB12", "LC13", "LD14",
			       "XE21", "XE22", "XE23", "XE24"})
		EXPECT_TRUE(expected.count(id)) << id << "\n" << reference.out;
}

TEST_F(DaemonFaults, PortTakenDecodingGoesOn)
{
	int busy = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_ANY);
	ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
	ASSERT_EQ(listen(busy, 1), 0);
	socklen_t len = sizeof a;
	getsockname(busy, reinterpret_cast<sockaddr *>(&a), &len);

	th::RunResult r = daemon({"-i", recording}, ntohs(a.sin_port));
	close(busy);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("socket_tcp_server: bind returned err: "), std::string::npos) << r.err;
	same_as_reference(r.out);
}

TEST_F(DaemonFaults, CopyFileOnFullDisk)
{
	// The raw copy and the export records both fail to be written.
	th::RunResult copy = daemon({"-i", recording, "-C", "/dev/full"});
	EXPECT_EQ(copy.status, 0) << copy.err;
	same_as_reference(copy.out);

	th::RunResult exported = daemon({"-i", recording, "-C", "/dev/full", "-x", "1"});
	EXPECT_EQ(exported.status, 0) << exported.err;
	same_as_reference(exported.out);
}

TEST_F(DaemonFaults, InputThroughPipeInOddChunks)
{
	std::string fifo = dir->file("stream.fifo");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	th::Background d(daemon_args({"-i", fifo}), dir->path().string());
	ASSERT_TRUE(d.started());

	// The daemon opens the pipe for reading; until then opening the
	// writing end fails with ENXIO.
	int w = -1;
	for (int k = 0; k < 3000 && w < 0; ++k) {
		w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
		if (w < 0)
			std::this_thread::sleep_for(10ms);
	}
	ASSERT_GE(w, 0) << "the daemon never opened its input";
	const std::string bytes = th::read_file(recording);
	// Chunk sizes that are never a multiple of the 12-byte frame, with a
	// pause now and then so that reads end inside frames.
	static const size_t sizes[] = {1, 7, 13, 5, 511, 3, 1021, 2, 4093, 11, 769, 17};
	size_t off = 0;
	for (int k = 0; off < bytes.size(); ++k) {
		size_t n = std::min(sizes[k % std::size(sizes)], bytes.size() - off);
		ssize_t put = write(w, bytes.data() + off, n);
		if (put < 0 && errno == EAGAIN) {
			// A full pipe: wait, boundedly, for the daemon to read on.
			pollfd room{w, POLLOUT, 0};
			ASSERT_EQ(poll(&room, 1, 30000), 1) << "the daemon stopped reading";
			--k;
			continue;
		}
		ASSERT_GT(put, 0) << "the daemon stopped reading";
		off += static_cast<size_t>(put);
		if (k % 7 == 0)
			std::this_thread::sleep_for(100us);
	}
	close(w);
	ASSERT_EQ(d.wait(300s), 0) << d.err();
	same_as_reference(d.out());
}

TEST_F(DaemonFaults, SilentClientDoesNotHoldUpDecoding)
{
	const int port = th::free_port();
	// Paced, so that the client is connected while decoding runs.
	th::Background d(daemon_args({"-s", "20", "-i", recording}, port), dir->path().string());
	ASSERT_TRUE(d.started());
	ASSERT_TRUE(wait_listening(port, d)) << d.err();
	int silent = connect_to(port);
	ASSERT_GE(silent, 0);
	// A second client waits behind it without an answer.
	int second = connect_to(port);
	ASSERT_GE(second, 0);
	ASSERT_GT(send(second, "GETSTATUS", 9, MSG_NOSIGNAL), 0);

	EXPECT_EQ(d.wait(300s), 0) << d.err();
	close(silent);
	close(second);
	same_as_reference(d.out());
}

TEST_F(DaemonFaults, ClientsVanishingMidReply)
{
	const int port = th::free_port();
	th::Background d(daemon_args({"-s", "20", "-i", recording}, port), dir->path().string());
	ASSERT_TRUE(d.started());
	ASSERT_TRUE(wait_listening(port, d)) << d.err();

	// Clients that ask and reset the connection before the reply is read,
	// some with a request cut short, some that close without a request.
	int vanished = 0;
	for (int k = 0; k < 300; ++k) {
		int fd = connect_to(port);
		if (fd < 0)
			break; // the daemon has finished its input
		const char *req = k % 3 == 0 ? "GETSTATUS" : k % 3 == 1 ? "GETSTA" : "";
		if (*req)
			send(fd, req, std::strlen(req), MSG_NOSIGNAL);
		vanish(fd);
		++vanished;
	}
	EXPECT_GT(vanished, 0);
	// Still serving whole replies.
	int fd = connect_to(port);
	if (fd >= 0) {
		std::string reply;
		ASSERT_GT(send(fd, "GETSTATUS", 9, MSG_NOSIGNAL), 0);
		EXPECT_TRUE(whole_reply(fd, "GETSTATUS", &reply, 3)) << reply;
		EXPECT_EQ(reply.rfind("GETSTATUS:\nFREQ:490,", 0), 0u) << reply;
		close(fd);
	}
	EXPECT_EQ(d.wait(300s), 0) << d.err();
	same_as_reference(d.out());
}

// A client asking as fast as it can while the daemon decodes in real time
// scaled down: no message may be lost or given twice.
TEST_F(DaemonFaults, LoadEveryMessageDeliveredOnce)
{
	const int port = th::free_port();
	th::Background d(daemon_args({"-s", "30", "-i", recording}, port), dir->path().string());
	ASSERT_TRUE(d.started());
	ASSERT_TRUE(wait_listening(port, d)) << d.err();

	std::map<std::string, int> delivered;
	std::vector<Taken> taken;
	long requests = 0;
	const auto start = std::chrono::steady_clock::now();
	const auto deadline = start + 300s;
	int fd = connect_to(port);
	ASSERT_GE(fd, 0);
	while (std::chrono::steady_clock::now() < deadline) {
		const std::string req = requests % 2 == 0 ? "GETMSG" : "GETSTATUS";
		if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) < 0)
			break;
		std::string reply;
		if (!whole_reply(fd, req, &reply, 3))
			break; // the daemon has ended with its input
		++requests;
		Taken t;
		if (req == "GETMSG" && parse_getmsg(reply, &t)) {
			++delivered[t.id];
			taken.push_back(t);
		}
	}
	const double seconds =
		std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	close(fd);
	ASSERT_EQ(d.wait(300s), 0) << d.err();

	auto left = parse_listing(d.out());
	EXPECT_EQ(static_cast<int>(left.size()), count_listed(d.out()));
	for (const auto &[id, n] : delivered) {
		EXPECT_EQ(n, 1) << id << " delivered " << n << " times";
		EXPECT_FALSE(left.count(id)) << id << " delivered and still listed";
	}
	for (const Taken &t : taken) {
		ASSERT_TRUE(expected.count(t.id)) << "unexpected message " << t.id;
		EXPECT_EQ(t.freq, expected[t.id].freq);
		EXPECT_EQ(t.length, expected[t.id].length) << t.id;
	}
	for (const auto &[id, l] : expected)
		EXPECT_TRUE(delivered.count(id) || left.count(id)) << id << " lost";
	EXPECT_GT(delivered.size(), 0u) << "no message reached the client while decoding";

	const double rate = requests / seconds;
	RecordProperty("requests", std::to_string(requests));
	RecordProperty("requests_per_second", std::to_string(static_cast<long>(rate)));
	RecordProperty("delivered", std::to_string(delivered.size()));
	std::cout << "[ load     ] " << requests << " requests in " << seconds << " s ("
		  << static_cast<long>(rate) << "/s), " << delivered.size()
		  << " messages delivered, " << left.size() << " left at exit, 0 lost\n";
}

} // namespace

#endif
