// Client protocol server: one TCP client at a time, line-oriented text.
//
// Requests (one per receive, at most 1023 bytes): GETMSG takes the oldest
// queued message ("GETMSG:\n" and its text, or the bare header when the
// queue is empty), GETSTATUS gives one "FREQ:%d,ST:%s,DBM:%2.2f" line per
// channel, EXIT closes the connection, anything else gets
// "ERR:Command not supported\n".  Channel status is read without a lock
// from atomic members the acquisition thread writes.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "messages.h"
#include "skerrin.h"

const socket_cmd socket_cmd_list[SOCKET_CMD_COUNT] = {
	{"GETMSG", 0, nullptr},
	{"GETSTATUS", 0, nullptr},
	{"EXIT", 0, nullptr},
};

namespace {

constexpr int kReplySize = 10240;
constexpr int kRequestSize = 1024;
constexpr char kErrReply[] = "ERR:Command not supported\n";

// snprintf's result is what it wanted to write; keep the count within
// what fits so the next line starts after the real end.
int used(int r, int room)
{
	if (r < 0)
		return 0;
	return r < room ? r : (room > 0 ? room - 1 : 0);
}

// Longest wait for a client to take a reply: one that sends requests but
// never reads them would otherwise hold the server, and every other client,
// for ever.
constexpr int kSendTimeoutSec = 2;

// Tells the starter that the server listens, or will not.
void announce(socket_data *sd)
{
	if (sd->listening) {
		sd->listening->count_down();
		sd->listening = nullptr;
	}
}

// Ends the server only; decoding goes on without it.
void *server_fail(socket_data *sd, const char *what, int fd)
{
	fprintf(stderr, "%s: %s returned err: %s\n", "socket_tcp_server", what, strerror(errno));
	if (fd >= 0)
		close(fd);
	announce(sd);
	return nullptr;
}

// The whole reply, or false when the client is gone or has not taken it
// within the time limit.
bool send_reply(int fd, const char *p, size_t n)
{
	while (n > 0) {
		// A client gone before its reply must not kill the daemon (SIGPIPE).
		ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			return false;
		p += w;
		n -= static_cast<size_t>(w);
	}
	return true;
}

} // namespace

int socket_print_status(char *buffer, int max_size, skerrin_cha *channel)
{
	const char *st;
	switch (channel->det_obj.status.load(std::memory_order_relaxed)) {
	case 0:
		st = "IDLE";
		break;
	case 1:
		st = "RCV";
		break;
	default:
		st = "????";
		break;
	}
	return snprintf(buffer, max_size, "FREQ:%d,ST:%s,DBM:%2.2f\n", channel->msg_obj.freq, st,
			channel->s_iq.signal_dbm.load(std::memory_order_relaxed));
}

int socket_loop(int client_fd, skerrin_all *skerrin_obj, int dbg_print)
{
	char *reply = static_cast<char *>(malloc(kReplySize));
	if (!reply)
		return -1;
	char request[kRequestSize];
	timeval limit{kSendTimeoutSec, 0};
	setsockopt(client_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));

	for (;;) {
		ssize_t got = recv(client_fd, request, kRequestSize - 1, 0);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0) {
			free(reply);
			return static_cast<int>(got);
		}
		request[got] = 0;

		int cmd = -1;
		for (int k = 0; k < SOCKET_CMD_COUNT && cmd < 0; k++)
			if (strstr(request, socket_cmd_list[k].cmd))
				cmd = k;

		int len = 0;
		MessageObj *m = nullptr;
		switch (cmd) {
		case 0:
			len = snprintf(reply, kReplySize, "GETMSG:\n");
			m = message_list_get();
			if (m)
				len += message_print_socket(m, reply + len, kReplySize - len);
			break;
		case 1:
			len = snprintf(reply, kReplySize, "GETSTATUS:\n");
			for (int i = 0; i < skerrin_obj->no_of_chan; i++)
				len += used(socket_print_status(reply + len, kReplySize - len,
								&skerrin_obj->channels[i]),
					    kReplySize - len);
			break;
		case 2:
			free(reply);
			return 0;
		default:
			printf("%s not found %d\n", request, static_cast<int>(got));
			len = snprintf(reply, kReplySize, "%s", kErrReply);
			break;
		}

		if (!send_reply(client_fd, reply, static_cast<size_t>(len))) {
			// A vanished client is nothing to report; one that does not
			// read its replies is.
			if (errno == EAGAIN || errno == EWOULDBLOCK)
				fprintf(stderr, "%s: client takes no replies, dropped\n",
					"socket_loop");
			if (m)
				message_list_unget(m);
			free(reply);
			return -1;
		}
		if (m)
			message_remove(&m);

		if (dbg_print && cmd == 0 && len > 15) {
			reply[len < kReplySize ? len : kReplySize - 1] = 0;
			fprintf(stderr, "%s: Socket send:%s\n\n", "socket_loop", reply);
		}
	}
}

void *socket_tcp_server(void *parm)
{
	auto *sd = static_cast<socket_data *>(parm);
	const bool dbg = sd->dbglev & 0x20;

	int lfd = socket(AF_INET, SOCK_STREAM, 0);
	if (lfd < 0)
		return server_fail(sd, "socket", -1);
	int one = 1;
	if (setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) < 0)
		return server_fail(sd, "setsockopt", lfd);
	sockaddr_in addr{};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_ANY);
	addr.sin_port = htons(static_cast<uint16_t>(sd->port));
	if (bind(lfd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0)
		return server_fail(sd, "bind", lfd);
	if (listen(lfd, 1024) < 0)
		return server_fail(sd, "listen", lfd);
	if (dbg)
		fprintf(stderr, "%s: Socket opened...\n\n", "socket_tcp_server");
	announce(sd);

	while (sd->run) {
		if (dbg) {
			printf("Messages waiting...%d\n", message_list_len());
			msg_list_print();
		}
		sockaddr_in peer{};
		socklen_t plen = sizeof(peer);
		int cfd = accept(lfd, reinterpret_cast<sockaddr *>(&peer), &plen);
		if (cfd < 0) {
			// A client that gave up before being taken is no server fault.
			if (errno == EINTR || errno == ECONNABORTED)
				continue;
			return server_fail(sd, "accept", lfd);
		}
		if (dbg)
			fprintf(stderr, "%s: Socket: client connected\n\n", "socket_tcp_server");
		socket_loop(cfd, sd->skerrin_obj, dbg);
		close(cfd);
		if (dbg)
			fprintf(stderr, "%s: Socket: Connection closed\n\n", "socket_tcp_server");
	}
	close(lfd);
	return nullptr;
}
