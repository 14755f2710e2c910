// Test helpers: loopback clients with timeouts everywhere, free ports, and
// child processes whose output goes to files.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback_listener.h"

namespace th {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The limit for waits that end as soon as their event comes: generous, so
// that a busy machine delays a test but never fails it.  Short windows are
// only for checking that nothing arrives.
constexpr int patience_ms = 60000;

// A port nobody listens on right now (bound once to port 0, then released).
inline int free_port()
{
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
	socklen_t len = sizeof(a);
	getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
	close(fd);
	return ntohs(a.sin_port);
}

class Conn {
public:
	Conn() = default;
	explicit Conn(int fd) : fd_(fd) {}
	Conn(Conn &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
	Conn &operator=(Conn &&o) noexcept
	{
		if (this != &o) {
			reset();
			fd_ = o.fd_;
			o.fd_ = -1;
		}
		return *this;
	}
	~Conn() { reset(); }
	void reset()
	{
		if (fd_ >= 0)
			close(fd_);
		fd_ = -1;
	}
	bool ok() const { return fd_ >= 0; }
	int fd() const { return fd_; }

	bool send_text(const std::string &s) const
	{
		return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) ==
		       static_cast<ssize_t>(s.size());
	}

	// Reads until done(text) holds, the peer closes or timeout_ms pass.
	std::string read_until(const std::function<bool(const std::string &)> &done,
			       int timeout_ms, bool *closed = nullptr) const
	{
		std::string text;
		auto end = Clock::now() + milliseconds(timeout_ms);
		if (closed)
			*closed = false;
		while (!done(text)) {
			int left = static_cast<int>(
				std::chrono::duration_cast<milliseconds>(end - Clock::now()).count());
			if (left <= 0)
				break;
			pollfd p{fd_, POLLIN, 0};
			if (poll(&p, 1, left) <= 0)
				continue;
			char buf[4096];
			ssize_t n = recv(fd_, buf, sizeof(buf), 0);
			if (n <= 0) {
				if (closed)
					*closed = true;
				break;
			}
			text.append(buf, static_cast<size_t>(n));
		}
		return text;
	}

	// Everything that arrives within timeout_ms.
	std::string read_for(int timeout_ms, bool *closed = nullptr) const
	{
		return read_until([](const std::string &) { return false; }, timeout_ms,
				  closed);
	}

	// True when the peer closes the connection within timeout_ms.
	bool closed_within(int timeout_ms) const
	{
		bool closed = false;
		read_for(timeout_ms, &closed);
		return closed;
	}

private:
	int fd_ = -1;
};

// Connects to 127.0.0.1:port, retrying until timeout_ms pass.
inline Conn connect_to(int port, int timeout_ms = patience_ms)
{
	auto end = Clock::now() + milliseconds(timeout_ms);
	do {
		int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		sockaddr_in a{};
		a.sin_family = AF_INET;
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		a.sin_port = htons(static_cast<uint16_t>(port));
		if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0 && !self_connected(fd))
			return Conn(fd);
		close(fd);
		std::this_thread::sleep_for(milliseconds(10));
	} while (Clock::now() < end);
	return Conn();
}

// Closes with an RST instead of an orderly shutdown.
inline void abort_connection(Conn &c)
{
	linger l{1, 0};
	setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof(l));
	c.reset();
}

inline std::string read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream ss;
	ss << in.rdbuf();
	return ss.str();
}

inline int count_fds(pid_t pid)
{
	std::string dir = "/proc/" + std::to_string(pid) + "/fd";
	DIR *d = opendir(dir.c_str());
	if (!d)
		return -1;
	int n = 0;
	while (readdir(d))
		++n;
	closedir(d);
	return n - 2;
}

// A child program with standard output and error in files; killed and
// reaped at the end of the test whatever happens.
class Child {
public:
	// extra_fds: descriptors from 3 on that the program finds already open.
	Child(const std::vector<std::string> &args, const std::string &out_path,
	      const std::string &err_path, const std::string &cwd = "", int extra_fds = 0)
		: out_(out_path), err_(err_path)
	{
		pid_ = fork();
		if (pid_ == 0) {
			int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			int in = open("/dev/null", O_RDONLY);
			dup2(in, 0);
			dup2(o, 1);
			dup2(e, 2);
			// Only the three standard descriptors go to the program.
			for (int fd = 3; fd < 1024; ++fd)
				close(fd);
			for (int k = 0; k < extra_fds; ++k)
				open("/dev/null", O_RDONLY);
			if (!cwd.empty() && chdir(cwd.c_str()) != 0)
				_exit(126);
			std::vector<char *> argv;
			for (const auto &a : args)
				argv.push_back(const_cast<char *>(a.c_str()));
			argv.push_back(nullptr);
			execv(argv[0], argv.data());
			_exit(127);
		}
	}
	~Child()
	{
		if (pid_ > 0 && !done_) {
			kill(pid_, SIGKILL);
			waitpid(pid_, nullptr, 0);
		}
	}
	pid_t pid() const { return pid_; }

	// Exit status, or -1 when it has not ended within timeout_ms.
	int wait_exit(int timeout_ms)
	{
		auto end = Clock::now() + milliseconds(timeout_ms);
		while (!done_) {
			int st = 0;
			pid_t r = waitpid(pid_, &st, WNOHANG);
			if (r == pid_) {
				done_ = true;
				status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
				break;
			}
			if (Clock::now() >= end)
				return -1;
			std::this_thread::sleep_for(milliseconds(10));
		}
		return status_;
	}
	bool running() { return wait_exit(0) == -1; }
	void signal(int sig) const { kill(pid_, sig); }
	std::string out() const { return read_file(out_); }
	std::string err() const { return read_file(err_); }

	// Waits until the standard output holds needle.
	bool wait_output(const std::string &needle, int timeout_ms) const
	{
		auto end = Clock::now() + milliseconds(timeout_ms);
		do {
			if (out().find(needle) != std::string::npos)
				return true;
			std::this_thread::sleep_for(milliseconds(20));
		} while (Clock::now() < end);
		return false;
	}

private:
	pid_t pid_ = -1;
	bool done_ = false;
	int status_ = -1;
	std::string out_, err_;
};

inline std::string temp_dir()
{
	char tmpl[] = "/tmp/navtex-test-XXXXXX";
	char *d = mkdtemp(tmpl);
	return d ? std::string(d) : std::string("/tmp");
}

} // namespace th
