// Helpers for tests that run the built programs: a scratch folder,
// recordings in the device stream layout, running a program with a time
// limit and capturing its output, and finding a free loopback port.
#ifndef SKERRIN_TEST_DAEMON_HELPERS_H
#define SKERRIN_TEST_DAEMON_HELPERS_H

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "stream_format.h"

namespace th {

namespace fs = std::filesystem;

// A folder removed with everything in it when the test ends.
class ScratchDir {
public:
	ScratchDir()
	{
		std::string tmpl = (fs::temp_directory_path() / "skerrin_test_XXXXXX").string();
		std::vector<char> buf(tmpl.begin(), tmpl.end());
		buf.push_back(0);
		if (!mkdtemp(buf.data()))
			abort();
		path_ = buf.data();
	}
	~ScratchDir()
	{
		std::error_code ec;
		fs::remove_all(path_, ec);
	}
	std::string file(const std::string &name) const { return (path_ / name).string(); }
	const fs::path &path() const { return path_; }

private:
	fs::path path_;
};

inline std::string read_file(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::ostringstream s;
	s << f.rdbuf();
	return s.str();
}

inline void write_file(const std::string &path, const std::string &bytes)
{
	std::ofstream f(path, std::ios::binary | std::ios::trunc);
	f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Sample pair of one channel in one frame, as raw 15-bit words.
struct QI {
	uint16_t q;
	uint16_t i;
};

// A recording of `frames` frames of `nch` channels; gen(frame, channel)
// gives the words (frame counted from 0).  The last word of every 64th
// frame carries the buffer-end mark, as the device sets it.
inline std::string make_recording(int frames, int nch, const std::function<QI(int, int)> &gen,
				  bool marks = true)
{
	std::string out(static_cast<size_t>(frames) * nch * 4, '\0');
	auto *p = reinterpret_cast<unsigned char *>(out.data());
	for (int f = 0; f < frames; f++) {
		for (int c = 0; c < nch; c++) {
			QI s = gen(f, c);
			uint16_t i = s.i & stream_format::kSampleMask;
			if (marks && c == nch - 1 && (f + 1) % stream_format::kFramesPerDeviceBuffer == 0)
				i |= stream_format::kMarkBit;
			stream_format::put_word(p, s.q & stream_format::kSampleMask);
			stream_format::put_word(p + 2, i);
			p += 4;
		}
	}
	return out;
}

// Words of a frame number and channel, distinct enough to recognise.
inline QI ramp(int f, int c)
{
	return QI{static_cast<uint16_t>(16384 + ((f * 7 + c * 1000) % 4000) - 2000),
		  static_cast<uint16_t>(16384 + ((f * 13 + c * 500) % 3000) - 1500)};
}

// A steady tone `hz` from the channel centre with the given peak.
inline QI tone(int f, double hz, double peak, double rate = 1700.0)
{
	double ph = 2.0 * M_PI * hz * f / rate;
	return QI{stream_format::to_sample(std::lround(peak * std::sin(ph))),
		  stream_format::to_sample(std::lround(peak * std::cos(ph)))};
}

struct RunResult {
	int status = -1; // exit status, or -1 when killed or not started
	bool timed_out = false;
	std::string out;
	std::string err;
};

// Runs a program in `cwd` with stdout and stderr captured; kills it when
// it has not ended after `limit`.
inline RunResult run(const std::vector<std::string> &args, const std::string &cwd,
		     std::chrono::seconds limit = std::chrono::seconds(60))
{
	static std::atomic<int> serial{0};
	RunResult r;
	std::string tag = std::to_string(getpid()) + "_" + std::to_string(serial++);
	std::string outp = cwd + "/.out_" + tag, errp = cwd + "/.err_" + tag;

	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&fa, 1, outp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	posix_spawn_file_actions_addopen(&fa, 2, errp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	pid_t pid;
	int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&fa);
	if (rc != 0)
		return r;

	auto deadline = std::chrono::steady_clock::now() + limit;
	int st = 0;
	for (;;) {
		pid_t w = waitpid(pid, &st, WNOHANG);
		if (w == pid)
			break;
		if (std::chrono::steady_clock::now() > deadline) {
			kill(pid, SIGKILL);
			waitpid(pid, &st, 0);
			r.timed_out = true;
			break;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	if (!r.timed_out && WIFEXITED(st))
		r.status = WEXITSTATUS(st);
	r.out = read_file(outp);
	r.err = read_file(errp);
	unlink(outp.c_str());
	unlink(errp.c_str());
	return r;
}

// A program left running in the background, killed when this goes.
class Background {
public:
	Background(const std::vector<std::string> &args, const std::string &cwd)
		: outp_(cwd + "/.bg_out_" + std::to_string(++serial())),
		  errp_(cwd + "/.bg_err_" + std::to_string(serial()))
	{
		posix_spawn_file_actions_t fa;
		posix_spawn_file_actions_init(&fa);
		posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
		posix_spawn_file_actions_addopen(&fa, 1, outp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		posix_spawn_file_actions_addopen(&fa, 2, errp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
		std::vector<char *> argv;
		for (auto &a : args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0)
			pid_ = -1;
		posix_spawn_file_actions_destroy(&fa);
	}
	~Background() { stop(); }
	bool started() const { return pid_ > 0; }
	// Waits for the end of the program; -1 when it had to be killed.
	int wait(std::chrono::seconds limit)
	{
		if (pid_ <= 0)
			return status_;
		auto deadline = std::chrono::steady_clock::now() + limit;
		int st = 0;
		while (waitpid(pid_, &st, WNOHANG) != pid_) {
			if (std::chrono::steady_clock::now() > deadline) {
				stop();
				return -1;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		}
		pid_ = -1;
		status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
		return status_;
	}
	void stop()
	{
		if (pid_ > 0) {
			kill(pid_, SIGKILL);
			waitpid(pid_, nullptr, 0);
			pid_ = -1;
		}
	}
	std::string out() const { return read_file(outp_); }
	std::string err() const { return read_file(errp_); }

private:
	static int &serial()
	{
		static int s = 0;
		return s;
	}
	std::string outp_, errp_;
	pid_t pid_ = -1;
	int status_ = -1;
};

// A loopback port nobody listens on right now.
inline int free_port()
{
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	a.sin_port = 0;
	bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(a));
	socklen_t l = sizeof(a);
	getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l);
	int port = ntohs(a.sin_port);
	close(fd);
	return port;
}

// Counts the occurrences of `needle` in `hay`.
inline int count(const std::string &hay, const std::string &needle)
{
	int n = 0;
	for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
		n++;
	return n;
}

} // namespace th

#endif
