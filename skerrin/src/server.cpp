// Client protocol server: one TCP client at a time, line-oriented text.
//
// Requests (one per receive, at most 1023 bytes): GETMSG takes the oldest
// queued message ("GETMSG:\n" and its text, or the bare header when the
// queue is empty), GETSTATUS gives one "FREQ:%d,ST:%s,DBM:%2.2f" line per
// channel, EXIT closes the connection, anything else gets
// "ERR:Command not supported\n".  Channel status is read without a lock
// from atomic members the acquisition thread writes.
//
// One client must not hold the server for ever: a reply has 10 s to be
// taken, and while another client waits to be accepted, a client that has
// sent no request for 10 s is dropped.  TCP keepalive ends connections to
// hosts that vanished.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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

// Longest time for a client to take a whole reply: one that sends requests
// but never reads them would otherwise hold the server, and every other
// client, for ever.  A slow reader has all of it.
constexpr int kSendLimitMs = 10000;
// Longest silence of a client while another waits to be accepted.
constexpr int kIdleLimitMs = 10000;
// Keepalive: first probe after this many idle seconds, then every
// kKeepIntervalSec, the connection ended after kKeepCount unanswered ones.
constexpr int kKeepIdleSec = 30;
constexpr int kKeepIntervalSec = 5;
constexpr int kKeepCount = 3;

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point until)
{
	auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
	return left > 0 ? static_cast<int>(left) : 0;
}

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

// The whole reply, or false when the client is gone (errno from send) or
// has not taken it all within the limit (errno EAGAIN).  `sent` receives
// the bytes that went out either way.
bool send_reply(int fd, const char *p, size_t n, size_t *sent)
{
	const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kSendLimitMs);
	*sent = 0;
	while (n > 0) {
		// A client gone before its reply must not kill the daemon (SIGPIPE).
		ssize_t w = send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
		if (w < 0 && errno == EINTR)
			continue;
		if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
			const int left = ms_left(until);
			pollfd pf{fd, POLLOUT, 0};
			if (left == 0 || (poll(&pf, 1, left) == 0 && ms_left(until) == 0)) {
				errno = EAGAIN;
				return false;
			}
			continue;
		}
		if (w <= 0)
			return false;
		p += w;
		n -= static_cast<size_t>(w);
		*sent += static_cast<size_t>(w);
	}
	return true;
}

// Waits until the client has sent something.  With a listening socket,
// false once another client waits and this one has been silent for the
// idle limit since `last`.
bool await_request(int fd, int lfd, Clock::time_point last)
{
	bool other_waits = false;
	for (;;) {
		pollfd pf[2] = {{fd, POLLIN, 0}, {lfd, POLLIN, 0}};
		int nfds = lfd >= 0 ? 2 : 1, timeout = -1;
		if (other_waits) {
			timeout = ms_left(last + std::chrono::milliseconds(kIdleLimitMs));
			if (timeout == 0)
				return false;
			nfds = 1;
		}
		const int r = poll(pf, static_cast<nfds_t>(nfds), timeout);
		if (r < 0 && errno != EINTR)
			return true; // let recv report it
		if (r > 0 && pf[0].revents)
			return true;
		if (r > 0 && nfds == 2 && (pf[1].revents & POLLIN))
			other_waits = true;
	}
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

namespace {

// socket_loop, with the listening socket (or -1) to watch for clients
// waiting behind this one.
int serve(int client_fd, skerrin_all *skerrin_obj, int dbg_print, int lfd)
{
	char *reply = static_cast<char *>(malloc(kReplySize));
	if (!reply)
		return -1;
	char request[kRequestSize];
	Clock::time_point last = Clock::now();

	for (;;) {
		if (!await_request(client_fd, lfd, last)) {
			fprintf(stderr, "%s: client sent no request for %d s while another waits, dropped\n",
				"socket_loop", kIdleLimitMs / 1000);
			free(reply);
			return -1;
		}
		ssize_t got = recv(client_fd, request, kRequestSize - 1, 0);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0) {
			free(reply);
			return static_cast<int>(got);
		}
		request[got] = 0;
		last = Clock::now();

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

		size_t sent = 0;
		if (!send_reply(client_fd, reply, static_cast<size_t>(len), &sent)) {
			// A vanished client is nothing to report; one that does not
			// read its replies is.
			if (errno == EAGAIN || errno == EWOULDBLOCK)
				fprintf(stderr, "%s: client takes no replies, dropped\n",
					"socket_loop");
			// A message goes to the next client only if none of it went
			// out: a cut copy here and a whole one there would be two.
			if (m && sent == 0) {
				message_list_unget(m);
			} else if (m) {
				fprintf(stderr, "%s: message %.4s lost: %zu of %d bytes sent\n", "socket_loop", m->msg_id,
					sent, len);
				message_remove(&m);
			}
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

// Short keepalive: a half-open connection from a host that vanished is
// ended within a minute instead of hours.  Best effort.
void keep_alive(int fd)
{
	int on = 1, idle = kKeepIdleSec, intvl = kKeepIntervalSec, cnt = kKeepCount;
	setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
	setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
	setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof(intvl));
	setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &cnt, sizeof(cnt));
}

} // namespace

int socket_loop(int client_fd, skerrin_all *skerrin_obj, int dbg_print)
{
	return serve(client_fd, skerrin_obj, dbg_print, -1);
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
		keep_alive(cfd);
		serve(cfd, sd->skerrin_obj, dbg, lfd);
		close(cfd);
		if (dbg)
			fprintf(stderr, "%s: Socket: Connection closed\n\n", "socket_tcp_server");
	}
	close(lfd);
	return nullptr;
}
