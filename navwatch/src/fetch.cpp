// Protocol requests with their own notion of a whole reply, so that a
// message is taken without waiting out a quiet spell.
#include "fetch.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "client.h"
#include "reply.h"

namespace {

// The bare "GETMSG:\n" may be the first piece of a message: wait this long
// for more (a server that sends a reply in pieces meets Nagle's delay and
// the delayed acknowledgement, 40 ms on Linux).  Unknown forms (a status list, a message without trailer) get
// the longer wait.
constexpr int kEmptyQuietMs = 100;
constexpr int kUnknownQuietMs = 300;

long long now_ms()
{
	using namespace std::chrono;
	return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void drain(int fd, std::string *stale)
{
	char buf[4096];
	for (;;) {
		ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
		if (n <= 0)
			return;
		if (stale)
			stale->append(buf, static_cast<size_t>(n));
	}
}

} // namespace

bool fetch_parse_address(const std::string &arg, std::string *host, int *port)
{
	size_t colon = arg.rfind(':');
	std::string h = colon == std::string::npos ? arg : arg.substr(0, colon);
	if (colon != std::string::npos) {
		std::string p = arg.substr(colon + 1);
		char *end = nullptr;
		long v = strtol(p.c_str(), &end, 10);
		if (p.empty() || *end != '\0' || v < 1 || v > 65535)
			return false;
		*port = static_cast<int>(v);
	}
	*host = h.empty() ? "127.0.0.1" : h;
	return true;
}

int fetch_connect(fetch_conn *c, int timeout_ms, std::string *err)
{
	fetch_close(c);
	c->fd = client_connect(c->host.c_str(), c->port, timeout_ms, err);
	return c->fd < 0 ? -1 : 0;
}

void fetch_close(fetch_conn *c)
{
	client_close(c->fd);
	c->fd = -1;
}

fetch_result fetch_request(fetch_conn *c, const char *request, std::string *reply, int timeout_ms,
			   std::string *err, std::string *stale)
{
	reply->clear();
	if (c->fd < 0) {
		*err = "not connected";
		return FETCH_FAILED;
	}
	drain(c->fd, stale);
	std::string req = std::string(request) + "\n";
	size_t sent = 0;
	while (sent < req.size()) {
		ssize_t n = send(c->fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			*err = std::string("send: ") + strerror(errno);
			fetch_close(c);
			return FETCH_FAILED;
		}
		sent += static_cast<size_t>(n);
	}
	const long long deadline = now_ms() + timeout_ms;
	for (;;) {
		if (reply_complete(*reply))
			return FETCH_REPLY;
		long long wait = deadline - now_ms();
		if (wait < 0)
			wait = 0;
		if (!reply->empty()) {
			// The bare header, or a status list ended by its line end,
			// is usually whole: a short wait for stragglers.
			bool likely = *reply == "GETMSG:\n" ||
				      (reply->rfind("GETSTATUS:", 0) == 0 && reply->back() == '\n');
			int quiet = likely ? kEmptyQuietMs : kUnknownQuietMs;
			wait = wait < quiet ? wait : quiet;
		}
		std::string e;
		int n = client_read_some(c->fd, reply, static_cast<int>(wait), &e);
		if (n > 0)
			continue;
		if (n == 0) {
			fetch_close(c);
			if (reply->empty()) {
				*err = "the server closed the connection";
				return FETCH_FAILED;
			}
			return FETCH_CUT;
		}
		if (e.rfind("no reply", 0) == 0)
			return reply->empty() ? FETCH_SILENT : FETCH_REPLY;
		*err = reply->empty() ? e : e + " (after part of a reply)";
		fetch_close(c);
		return reply->empty() ? FETCH_FAILED : FETCH_CUT;
	}
}
