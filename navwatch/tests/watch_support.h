// Helpers of navwatch's program tests: a scripted protocol server on
// loopback, navwatch as a child process, waiting for files to fill.
#ifndef NAVWATCH_TEST_SUPPORT_H
#define NAVWATCH_TEST_SUPPORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "loopback_listener.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "run_program.h"
#include "jsonl.h"
#include "nmea.h"
#include "store.h"


namespace watch_test {

using namespace std::chrono;

inline std::string temp_dir()
{
	char tmpl[] = "/tmp/navwatch-run-XXXXXX";
	return mkdtemp(tmpl);
}

inline std::string slurp(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::stringstream ss;
	ss << f.rdbuf();
	return ss.str();
}

inline std::vector<std::string> lines_of(const std::string &text)
{
	std::vector<std::string> v;
	std::istringstream is(text);
	for (std::string l; std::getline(is, l);)
		v.push_back(l);
	return v;
}

// Waits (60 s at most) until pred holds.
inline bool wait_for(const std::function<bool()> &pred)
{
	auto end = steady_clock::now() + seconds(60);
	while (steady_clock::now() < end) {
		if (pred())
			return true;
		std::this_thread::sleep_for(milliseconds(20));
	}
	return pred();
}

inline std::string daemon_reply(int freq, const std::string &id, const std::string &text, int n)
{
	return "GETMSG:\n" + std::to_string(freq) + "\nZCZC\n" + id + "\n" + text +
	       "\nNNNN\nERROR:0.00\nSIGNAL:-80.00\nTIME:" + std::to_string(1700000000 + n) + "\n";
}

// A protocol server on loopback whose GETMSG replies come from a script.
// An entry "<close>" closes the connection instead of replying, one ending
// in "<cut>" sends its text and closes.  An exhausted script answers the
// bare header.
struct script_server {
	int lfd = -1;
	int port = 0;
	std::mutex lock;
	std::deque<std::string> script;
	std::atomic<int> connections{0};
	std::atomic<bool> stop{false};
	std::thread th;

	script_server()
	{
		lfd = loopback_listener(&port);
		th = std::thread([this] { run(); });
	}
	~script_server()
	{
		stop = true;
		th.join();
		close(lfd);
	}
	void add(const std::string &r)
	{
		std::lock_guard<std::mutex> g(lock);
		script.push_back(r);
	}
	size_t left()
	{
		std::lock_guard<std::mutex> g(lock);
		return script.size();
	}
	void run()
	{
		while (!stop) {
			pollfd p{lfd, POLLIN, 0};
			if (poll(&p, 1, 50) <= 0)
				continue;
			int fd = accept(lfd, nullptr, nullptr);
			if (fd < 0)
				continue;
			++connections;
			serve(fd);
			close(fd);
		}
	}
	void serve(int fd)
	{
		char buf[1024];
		while (!stop) {
			pollfd p{fd, POLLIN, 0};
			if (poll(&p, 1, 50) <= 0)
				continue;
			ssize_t n = recv(fd, buf, sizeof buf - 1, 0);
			if (n <= 0)
				return;
			buf[n] = 0;
			std::string reply;
			if (strstr(buf, "GETMSG")) {
				std::lock_guard<std::mutex> g(lock);
				reply = "GETMSG:\n";
				if (!script.empty()) {
					reply = script.front();
					script.pop_front();
				}
			} else if (strstr(buf, "GETSTATUS")) {
				reply = "GETSTATUS:\nFREQ:490,ST:IDLE,DBM:-120.00\nFREQ:518,ST:RCV,DBM:-80.00\n";
			}
			if (reply == "<close>")
				return;
			bool cut = reply.size() >= 5 && reply.compare(reply.size() - 5, 5, "<cut>") == 0;
			if (cut)
				reply.resize(reply.size() - 5);
			send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
			if (cut)
				return;
		}
	}
};

// navwatch in the foreground as a child process.
struct watcher {
	pid_t pid = -1;
	std::string err_path;
	watcher(const std::vector<std::string> &args, const std::string &err_file, long fsize_limit = 0)
	{
		err_path = err_file;
		pid = fork();
		if (pid == 0) {
			if (fsize_limit > 0) {
				rlimit r{static_cast<rlim_t>(fsize_limit), RLIM_INFINITY};
				setrlimit(RLIMIT_FSIZE, &r);
			}
			int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			dup2(fd, 2);
			dup2(fd, 1);
			std::vector<char *> argv;
			static std::string bin = NAVWATCH_BIN;
			argv.push_back(bin.data());
			for (auto &a : args)
				argv.push_back(const_cast<char *>(a.c_str()));
			argv.push_back(nullptr);
			execv(argv[0], argv.data());
			_exit(127);
		}
	}
	int stop(int sig = SIGTERM)
	{
		if (pid <= 0)
			return -1;
		kill(pid, sig);
		int st = 0;
		waitpid(pid, &st, 0);
		pid = -1;
		return st;
	}
	~watcher() { stop(SIGKILL); }
	std::string log() const { return slurp(err_path); }
};

inline program_result view(const std::string &db, std::vector<std::string> args)
{
	args.insert(args.begin(), {NAVWATCH_BIN, "-D", db});
	return run_program(args, "", 60);
}

inline void write_settings(const std::string &path, const std::string &stations518)
{
	std::ofstream(path) << "[general]\nalarm-sound-enabled=true\n[coast-stations]\nfilter-490=\nfilter-518="
			    << stations518 << "\nfilter-4209=\n[message-filter]\nfilter-490=\nfilter-518=\nfilter-4209=\n";
}

} // namespace watch_test

#endif
