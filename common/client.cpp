// Protocol client: connect with a timeout, one request, one reply.
#include "client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// After a reply looks whole, wait this long for stragglers before
// returning; a reply the daemon sends in one piece needs none.
constexpr int kQuietMs = 50;
constexpr int kUnknownQuietMs = 500;

void set_err(std::string *err, const std::string &what)
{
	if (err)
		*err = what;
}

bool ends_with(const std::string &s, const char *t)
{
	size_t n = strlen(t);
	return s.size() >= n && s.compare(s.size() - n, n, t) == 0;
}

// True when the text is a reply that needs nothing more.
bool reply_complete(const std::string &r)
{
	if (r == "GETMSG:\n" || r == "ERR:Command not supported\n")
		return true;
	if (r.rfind("GETMSG:\n", 0) == 0) {
		size_t t = r.rfind("\nTIME:");
		return t != std::string::npos && ends_with(r, "\n") && r.find('\n', t + 1) == r.size() - 1;
	}
	if (r.rfind("GETSTATUS:\n", 0) == 0)
		return ends_with(r, "\n");
	return false;
}

long long now_ms()
{
	using namespace std::chrono;
	return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

int client_connect(const char *host, int port, int timeout_ms, std::string *err)
{
	addrinfo hints{};
	hints.ai_family = AF_INET;
	hints.ai_socktype = SOCK_STREAM;
	addrinfo *res = nullptr;
	std::string service = std::to_string(port);
	int rc = getaddrinfo(host, service.c_str(), &hints, &res);
	if (rc != 0) {
		set_err(err, std::string("cannot resolve ") + host + ": " + gai_strerror(rc));
		return -1;
	}
	// Not handed on to programs the caller starts: they would keep the
	// connection open after the caller closes it.
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0 && errno == EINVAL) {
		// Kernels before 2.6.27 (the board's) know no socket flags.
		fd = socket(AF_INET, SOCK_STREAM, 0);
		if (fd >= 0)
			fcntl(fd, F_SETFD, FD_CLOEXEC);
	}
	if (fd < 0) {
		set_err(err, std::string("socket: ") + strerror(errno));
		freeaddrinfo(res);
		return -1;
	}
	int fl = fcntl(fd, F_GETFL);
	fcntl(fd, F_SETFL, fl | O_NONBLOCK);
	rc = connect(fd, res->ai_addr, res->ai_addrlen);
	freeaddrinfo(res);
	if (rc < 0 && errno != EINPROGRESS) {
		set_err(err, std::string("connect to ") + host + ":" + service + ": " + strerror(errno));
		close(fd);
		return -1;
	}
	if (rc < 0) {
		pollfd p{fd, POLLOUT, 0};
		int pr = poll(&p, 1, timeout_ms);
		int soerr = 0;
		socklen_t sl = sizeof(soerr);
		if (pr <= 0) {
			set_err(err, std::string("connect to ") + host + ":" + service + ": timed out");
			close(fd);
			return -1;
		}
		getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &sl);
		if (soerr != 0) {
			set_err(err, std::string("connect to ") + host + ":" + service + ": " + strerror(soerr));
			close(fd);
			return -1;
		}
	}
	fcntl(fd, F_SETFL, fl);
	return fd;
}

int client_read_some(int fd, std::string *out, int timeout_ms, std::string *err)
{
	pollfd p{fd, POLLIN, 0};
	int pr;
	do
		pr = poll(&p, 1, timeout_ms);
	while (pr < 0 && errno == EINTR);
	if (pr == 0) {
		set_err(err, "no reply within " + std::to_string(timeout_ms) + " ms");
		return -1;
	}
	if (pr < 0) {
		set_err(err, std::string("poll: ") + strerror(errno));
		return -1;
	}
	char buf[4096];
	ssize_t n = recv(fd, buf, sizeof(buf), 0);
	if (n < 0) {
		set_err(err, std::string("recv: ") + strerror(errno));
		return -1;
	}
	out->append(buf, static_cast<size_t>(n));
	return static_cast<int>(n);
}

int client_request(int fd, const std::string &request, std::string *reply, int timeout_ms,
		   std::string *err)
{
	reply->clear();
	size_t sent = 0;
	while (sent < request.size()) {
		ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			set_err(err, std::string("send: ") + strerror(errno));
			return -1;
		}
		sent += static_cast<size_t>(n);
	}

	const long long deadline = now_ms() + timeout_ms;
	for (;;) {
		long long left = deadline - now_ms();
		if (left < 0)
			left = 0;
		// The protocol has no length field: a reply is over when it reads
		// as whole and nothing follows, or after a longer quiet spell when
		// its form is unknown (servers may differ in their replies).
		long long wait = left;
		if (!reply->empty())
			wait = std::min(left, static_cast<long long>(reply_complete(*reply) ? kQuietMs
											      : kUnknownQuietMs));
		std::string e;
		int n = client_read_some(fd, reply, static_cast<int>(wait), &e);
		if (n == 0)
			return reply->empty() ? 1 : 0;
		if (n < 0) {
			if (!reply->empty())
				return 0;
			set_err(err, e);
			return -1;
		}
	}
}

void client_close(int fd)
{
	if (fd >= 0)
		close(fd);
}

int client_reply_has_message(const std::string &reply)
{
	return reply.rfind("GETMSG:\n", 0) == 0 && reply.size() > 8 ? 1 : 0;
}
