// Protocol server in-process: status lines, one connection's requests
// over a socket pair, and the listening thread on a loopback port.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <thread>

#include "client.h"
#include "daemon_helpers.h"
#include "messages.h"
#include "skerrin.h"

namespace {

struct Daemon {
	skerrin_all *o;
	explicit Daemon(int nch)
	{
		testing::internal::CaptureStdout();
		o = skerrin_init(nch, 0, 1700);
		testing::internal::GetCapturedStdout();
	}
	~Daemon()
	{
		delete[] o->channels;
		delete o;
		while (MessageObj *m = message_list_get())
			message_remove(&m);
	}
};

MessageObj *queued(int freq, const std::string &chars, double dbm, time_t t)
{
	MessageObj *m = message_create(freq, t);
	for (char c : chars)
		message_addchr(m, c, c == '*');
	m->signal = dbm;
	message_list_put(m);
	return m;
}

// One connection served by socket_loop on the far end of a socket pair.
struct Connection {
	int fd[2] = {-1, -1};
	std::future<int> served;
	Connection(skerrin_all *o, int dbg = 0)
	{
		EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0);
		int server_fd = fd[1];
		served = std::async(std::launch::async,
				    [o, server_fd, dbg] { return socket_loop(server_fd, o, dbg); });
	}
	~Connection()
	{
		close(fd[0]);
		if (served.valid())
			served.wait_for(std::chrono::seconds(60));
		close(fd[1]);
	}
	std::string ask(const std::string &req)
	{
		std::string reply, err;
		EXPECT_EQ(client_request(fd[0], req, &reply, 60000, &err), 0) << err;
		return reply;
	}
	// socket_loop's result once the connection has ended.
	int result()
	{
		if (served.wait_for(std::chrono::seconds(60)) != std::future_status::ready)
			return -999;
		return served.get();
	}
};

} // namespace

TEST(StatusLine, StateWordsFrequencyAndLevel)
{
	Daemon d(3);
	char buf[128];
	skerrin_cha &c = d.o->channels[2];
	EXPECT_EQ(socket_print_status(buf, sizeof(buf), &c), 27);
	EXPECT_STREQ(buf, "FREQ:4209,ST:IDLE,DBM:0.00\n");
	c.det_obj.status = 1;
	c.s_iq.signal_dbm = -83.456;
	socket_print_status(buf, sizeof(buf), &c);
	EXPECT_STREQ(buf, "FREQ:4209,ST:RCV,DBM:-83.46\n");
	c.det_obj.status = 7;
	socket_print_status(buf, sizeof(buf), &c);
	EXPECT_STREQ(buf, "FREQ:4209,ST:????,DBM:-83.46\n");
	// Bounded: the formatter's result, the text cut to fit.
	char small[10];
	memset(small, '#', sizeof(small));
	EXPECT_EQ(socket_print_status(small, 8, &c), 29);
	EXPECT_STREQ(small, "FREQ:42");
	EXPECT_EQ(small[8], '#');
}

TEST(Connection, EmptyQueueGivesBareHeader)
{
	Daemon d(3);
	Connection c(d.o);
	EXPECT_EQ(c.ask("GETMSG"), "GETMSG:\n");
	EXPECT_EQ(c.ask("GETMSG\r\n"), "GETMSG:\n");
}

TEST(Connection, MessagesDeliveredOnceOldestFirst)
{
	Daemon d(3);
	queued(518, " FA01r\nTEST MESSAGE 123r\nNNNN", -80.0, 1636228800);
	queued(490, "XB22\nSECOND\nNNNN", -70.5, 1636228900);
	Connection c(d.o);
	EXPECT_EQ(c.ask("GETMSG\n"), "GETMSG:\n518\nZCZC\nFA01\nTEST MESSAGE 123\nNNNN\n"
				     "ERROR:0.00\nSIGNAL:-80.00\nTIME:1636228800\n");
	EXPECT_EQ(c.ask("GETMSG\n"), "GETMSG:\n490\nZCZC\nXB22\nSECOND\nNNNN\n"
				     "ERROR:0.00\nSIGNAL:-70.50\nTIME:1636228900\n");
	EXPECT_EQ(c.ask("GETMSG\n"), "GETMSG:\n");
	EXPECT_EQ(message_list_len(), 0);
}

TEST(Connection, StatusListsEveryChannel)
{
	Daemon d(3);
	d.o->channels[1].det_obj.status = 1;
	d.o->channels[1].s_iq.signal_dbm = -61.0;
	Connection c(d.o);
	EXPECT_EQ(c.ask("GETSTATUS\n"), "GETSTATUS:\nFREQ:490,ST:IDLE,DBM:0.00\n"
					"FREQ:518,ST:RCV,DBM:-61.00\nFREQ:4209,ST:IDLE,DBM:0.00\n");
	Daemon four(4);
	Connection c4(four.o);
	std::string r = c4.ask("xxGETSTATUSxx");
	EXPECT_EQ(th::count(r, "FREQ:"), 4);
	EXPECT_NE(r.find("FREQ:424,ST:IDLE"), std::string::npos);
}

TEST(Connection, FirstCommandInTableOrderDecides)
{
	Daemon d(3);
	Connection c(d.o);
	EXPECT_EQ(c.ask("GETSTATUS GETMSG"), "GETMSG:\n");
	EXPECT_EQ(c.ask("EXIT?GETSTATUS"), c.ask("GETSTATUS")) << "GETSTATUS comes before EXIT";
}

TEST(Connection, UnknownCommandGetsErrorReply)
{
	Daemon d(3);
	Connection c(d.o);
	testing::internal::CaptureStdout();
	std::string r = c.ask("getmsg\n");
	std::string out = testing::internal::GetCapturedStdout();
	EXPECT_EQ(r, "ERR:Command not supported\n");
	EXPECT_EQ(out, "getmsg\n not found 7\n");
	// The connection stays usable.
	EXPECT_EQ(c.ask("GETMSG"), "GETMSG:\n");
}

TEST(Connection, ExitEndsWithoutReply)
{
	Daemon d(3);
	Connection c(d.o);
	ASSERT_EQ(send(c.fd[0], "EXIT\n", 5, 0), 5);
	EXPECT_EQ(c.result(), 0);
	// The server closes its end; the client finds nothing before the end.
	close(c.fd[1]);
	c.fd[1] = -1;
	std::string got, err;
	EXPECT_EQ(client_read_some(c.fd[0], &got, 60000, &err), 0) << err;
	EXPECT_EQ(got, "");
}

TEST(Connection, PeerCloseEndsWithZero)
{
	Daemon d(3);
	Connection c(d.o);
	shutdown(c.fd[0], SHUT_WR);
	EXPECT_EQ(c.result(), 0);
}

TEST(Connection, ClientGoneBeforeReplyDoesNotKillDaemon)
{
	Daemon d(3);
	queued(518, "AB12\nHI\nNNNN", -50.0, 5);
	for (const char *req : {"GETSTATUS", "GETMSG"}) {
		Connection c(d.o);
		// The reader is gone before the request arrives, so the reply's
		// send fails whenever the server gets to it, and ends the
		// connection.
		shutdown(c.fd[0], SHUT_RD);
		ASSERT_EQ(send(c.fd[0], req, strlen(req), 0), static_cast<ssize_t>(strlen(req)));
		shutdown(c.fd[0], SHUT_WR);
		EXPECT_EQ(c.result(), -1) << req;
	}
	// The message that could not be sent waits for the next client.
	EXPECT_EQ(message_list_len(), 1);
	Connection next(d.o);
	EXPECT_EQ(next.ask("GETMSG").rfind("GETMSG:\n518\nZCZC\nAB12\nHI\nNNNN\n", 0), 0u);
}

TEST(Connection, ClientThatNeverReadsIsDropped)
{
	Daemon d(3);
	Connection c(d.o);
	// Requests without end and not one reply read: once the replies fill
	// the socket, the server gives up on this client instead of waiting
	// in send for ever.
	int sent = 0;
	auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
	testing::internal::CaptureStderr();
	while (c.served.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
	       std::chrono::steady_clock::now() < end) {
		if (send(c.fd[0], "GETSTATUS", 9, MSG_DONTWAIT | MSG_NOSIGNAL) == 9)
			sent++;
		else
			std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(c.result(), -1) << sent << " requests sent";
	EXPECT_EQ(err, "socket_loop: client takes no replies, dropped\n");
}

TEST(Connection, ReplyLimitCoversTheWholeReplySlowKeptStalledDropped)
{
	Daemon d(3);
	const std::string text = "LONG\n" + std::string(12000, 'W') + "\nNNNN";
	// The server's end takes only a few kilobytes, so a 10 KB reply goes
	// out in parts as the client reads.
	auto small_pipe = [](Connection &c) {
		int one = 1;
		setsockopt(c.fd[1], SOL_SOCKET, SO_SNDBUF, &one, sizeof(one));
	};
	std::string err;
	{
		// A slow reader: part of the reply, a pause longer than any one
		// send may wait, then the rest; it gets the whole reply and stays.
		queued(518, text, -75.0, 99);
		Connection c(d.o);
		small_pipe(c);
		testing::internal::CaptureStderr();
		ASSERT_EQ(send(c.fd[0], "GETMSG", 6, 0), 6);
		std::string got;
		ASSERT_GT(client_read_some(c.fd[0], &got, 60000, &err), 0) << err;
		std::this_thread::sleep_for(std::chrono::seconds(3));
		while (got.find("TIME:99\n") == std::string::npos &&
		       client_read_some(c.fd[0], &got, 60000, &err) > 0) {
		}
		EXPECT_GT(got.size(), 10100u);
		EXPECT_EQ(c.ask("GETMSG"), "GETMSG:\n");
		EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
	}
	{
		// A stalled one: part of the reply and then nothing.  Dropped, and
		// the message, partly sent, is not sent again to the next client.
		queued(518, text, -75.0, 99);
		Connection c(d.o);
		small_pipe(c);
		testing::internal::CaptureStderr();
		ASSERT_EQ(send(c.fd[0], "GETMSG", 6, 0), 6);
		std::string got;
		ASSERT_GT(client_read_some(c.fd[0], &got, 60000, &err), 0) << err;
		EXPECT_EQ(c.result(), -1);
		err = testing::internal::GetCapturedStderr();
		EXPECT_EQ(err.rfind("socket_loop: client takes no replies, dropped\n"
				    "socket_loop: message LONG lost: ", 0),
			  0u)
			<< err;
		EXPECT_EQ(message_list_len(), 0);
	}
}

TEST(Connection, OverlongMessageCutToReplyBuffer)
{
	Daemon d(3);
	std::string text = "LONG\n" + std::string(12000, 'W') + "\nNNNN";
	queued(518, text, -75.0, 99);
	Connection c(d.o);
	std::string r = c.ask("GETMSG");
	EXPECT_LE(r.size(), 10239u);
	EXPECT_GT(r.size(), 10100u);
	EXPECT_EQ(r.rfind("GETMSG:\n518\nZCZC\nLONG\nWWW", 0), 0u);
	EXPECT_EQ(r.substr(r.size() - 35), "W\nERROR:0.00\nSIGNAL:-75.00\nTIME:99\n");
}

TEST(Connection, DebugEchoOfSentMessage)
{
	Daemon d(3);
	queued(518, "AB12\nHI\nNNNN", -50.0, 5);
	Connection c(d.o, 1);
	testing::internal::CaptureStderr();
	c.ask("GETMSG");
	c.ask("GETMSG");
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(th::count(err, "socket_loop: Socket send:GETMSG:\n518\nZCZC\nAB12\nHI\nNNNN\n"), 1)
		<< err;
}

namespace {

// The listening thread on a loopback port, stopped at the end.
struct Server {
	socket_data sd;
	std::thread t;
	Server(skerrin_all *o, int port, int dbglev = 0)
	{
		sd.port = port;
		sd.dbglev = dbglev;
		sd.run = 1;
		sd.skerrin_obj = o;
		t = std::thread([this] { socket_tcp_server(&sd); });
	}
	~Server()
	{
		sd.run = 0;
		// Wake the accept with one last connection.
		std::string err;
		int fd = client_connect("127.0.0.1", sd.port, 2000, &err);
		client_close(fd);
		t.join();
	}
};

int connect_retry(int port)
{
	std::string err;
	// Generous: on a busy machine the server thread may bind late.
	auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	while (std::chrono::steady_clock::now() < end) {
		int fd = client_connect("127.0.0.1", port, 2000, &err);
		if (fd >= 0)
			return fd;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return -1;
}

} // namespace

TEST(ServerThread, SecondClientWaitsForFirst)
{
	Daemon d(3);
	int port = th::free_port();
	Server s(d.o, port);
	int a = connect_retry(port);
	ASSERT_GE(a, 0);
	std::string reply, err;
	ASSERT_EQ(client_request(a, "GETSTATUS", &reply, 60000, &err), 0) << err;
	EXPECT_EQ(th::count(reply, "ST:IDLE"), 3);

	int b = connect_retry(port); // taken into the backlog
	ASSERT_GE(b, 0);
	ASSERT_EQ(send(b, "GETSTATUS", 9, 0), 9);
	std::string got;
	EXPECT_EQ(client_read_some(b, &got, 300, &err), -1) << "served while the first was connected";
	EXPECT_EQ(got, "");

	client_close(a);
	EXPECT_GT(client_read_some(b, &got, 60000, &err), 0) << err;
	EXPECT_EQ(got.rfind("GETSTATUS:\n", 0), 0u);
	client_close(b);
}

TEST(ServerThread, SilentClientDroppedOnlyWhileAnotherWaits)
{
	Daemon d(3);
	int port = th::free_port();
	Server s(d.o, port);
	int a = connect_retry(port);
	ASSERT_GE(a, 0);
	std::string reply, err;
	testing::internal::CaptureStderr();
	ASSERT_EQ(client_request(a, "GETSTATUS", &reply, 60000, &err), 0) << err;
	int b = connect_retry(port); // waits in the backlog
	ASSERT_GE(b, 0);
	ASSERT_EQ(send(b, "GETSTATUS", 9, 0), 9);
	// A client that talks regularly keeps its place past the idle limit.
	auto until = std::chrono::steady_clock::now() + std::chrono::seconds(12);
	while (std::chrono::steady_clock::now() < until) {
		ASSERT_EQ(client_request(a, "GETSTATUS", &reply, 60000, &err), 0) << err;
		std::this_thread::sleep_for(std::chrono::seconds(1));
	}
	std::string got;
	EXPECT_EQ(client_read_some(b, &got, 0, &err), -1) << "served while the first talked";
	// Silent from now on: dropped, and the waiting client served.
	EXPECT_GT(client_read_some(b, &got, 60000, &err), 0) << err;
	EXPECT_EQ(got.rfind("GETSTATUS:\n", 0), 0u);
	std::string rest;
	EXPECT_EQ(client_read_some(a, &rest, 60000, &err), 0) << "connection of the silent client ended";
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  "socket_loop: client sent no request for 10 s while another waits, dropped\n");
	client_close(a);
	client_close(b);
}

TEST(ServerThread, ExitThenNextClientServed)
{
	Daemon d(3);
	int port = th::free_port();
	Server s(d.o, port);
	int a = connect_retry(port);
	ASSERT_GE(a, 0);
	std::string reply, err;
	EXPECT_EQ(client_request(a, "EXIT", &reply, 60000, &err), 1);
	int b = connect_retry(port);
	ASSERT_GE(b, 0);
	EXPECT_EQ(client_request(b, "GETMSG", &reply, 60000, &err), 0) << err;
	EXPECT_EQ(reply, "GETMSG:\n");
	client_close(a);
	client_close(b);
}

TEST(ServerThread, PortInUseEndsOnlyTheServer)
{
	Daemon d(3);
	int busy = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_ANY);
	a.sin_port = 0;
	ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr *>(&a), sizeof(a)), 0);
	ASSERT_EQ(listen(busy, 1), 0);
	socklen_t l = sizeof(a);
	getsockname(busy, reinterpret_cast<sockaddr *>(&a), &l);

	socket_data sd;
	sd.port = ntohs(a.sin_port);
	sd.dbglev = 0;
	sd.run = 1;
	sd.skerrin_obj = d.o;
	testing::internal::CaptureStderr();
	EXPECT_EQ(socket_tcp_server(&sd), nullptr);
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(err, "socket_tcp_server: bind returned err: Address already in use\n");
	close(busy);
}

TEST(ServerThread, DebugListingBeforeEachAccept)
{
	Daemon d(3);
	queued(518, "AB12\nHI\nNNNN", -50.0, 5);
	int port = th::free_port();
	testing::internal::CaptureStdout();
	testing::internal::CaptureStderr();
	{
		Server s(d.o, port, 0x20);
		int a = connect_retry(port);
		std::string reply, err;
		client_request(a, "GETSTATUS", &reply, 60000, &err);
		client_close(a);
	}
	std::string out = testing::internal::GetCapturedStdout();
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(out.rfind("Messages waiting...1\n  0 Freq: 518, Message id: AB12", 0), 0u) << out;
	EXPECT_NE(err.find("socket_tcp_server: Socket opened...\n\n"), std::string::npos);
	EXPECT_NE(err.find("socket_tcp_server: Socket: client connected\n\n"), std::string::npos);
	EXPECT_NE(err.find("socket_tcp_server: Socket: Connection closed\n\n"), std::string::npos);
}
