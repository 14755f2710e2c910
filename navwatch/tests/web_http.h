// A plain HTTP/1.0 client for the web page's tests: one request per
// connection, from a chosen loopback address, read until the server
// closes.  Deadlines are generous; nothing waits on a fixed sleep.
#ifndef NAVWATCH_TESTS_WEB_HTTP_H
#define NAVWATCH_TESTS_WEB_HTTP_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

struct http_reply {
	int status = 0; // 0: no answer
	std::string headers;
	std::string body;
};

// A connected socket from `from` to 127.0.0.1:port, or -1.  A local port
// above the kernel's ephemeral range (61000 and up) keeps many connections
// from taking ports that other tests, running beside, were just given.
inline int http_connect(int port, const char *from = "127.0.0.1", int local_port = 0)
{
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	if (fd < 0)
		return -1;
	int on = 1;
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
	sockaddr_in a {};
	a.sin_family = AF_INET;
	a.sin_port = htons(static_cast<uint16_t>(local_port));
	inet_pton(AF_INET, from, &a.sin_addr);
	if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
		close(fd);
		return -1;
	}
	a.sin_port = htons(static_cast<uint16_t>(port));
	inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
	if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
		close(fd);
		return -1;
	}
	return fd;
}

// Sends raw bytes and reads the answer until the server closes.
inline http_reply http_raw(int port, const std::string &request, const char *from = "127.0.0.1")
{
	http_reply r;
	int fd = http_connect(port, from);
	if (fd < 0)
		return r;
	size_t sent = 0;
	while (sent < request.size()) {
		ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
		if (n <= 0)
			break; // the server may answer and close before taking it all
		sent += static_cast<size_t>(n);
	}
	std::string all;
	auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	char buf[8192];
	while (std::chrono::steady_clock::now() < deadline) {
		pollfd p { fd, POLLIN, 0 };
		if (poll(&p, 1, 1000) <= 0)
			continue;
		ssize_t n = recv(fd, buf, sizeof buf, 0);
		if (n <= 0)
			break;
		all.append(buf, static_cast<size_t>(n));
	}
	close(fd);
	size_t end = all.find("\r\n\r\n");
	if (all.compare(0, 5, "HTTP/") != 0 || end == std::string::npos)
		return r;
	r.status = std::atoi(all.c_str() + all.find(' ') + 1);
	r.headers = all.substr(0, end);
	r.body = all.substr(end + 4);
	return r;
}

inline http_reply http_get(int port, const std::string &path, const char *from = "127.0.0.1")
{
	return http_raw(port, "GET " + path + " HTTP/1.0\r\nHost: x\r\n\r\n", from);
}

inline http_reply http_send(int port, const std::string &method, const std::string &path,
			    const std::string &body, const char *from = "127.0.0.1",
			    const std::string &type = "application/json")
{
	return http_raw(port, method + " " + path + " HTTP/1.0\r\nHost: x\r\nContent-Type: " + type +
				 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
			from);
}

#endif
