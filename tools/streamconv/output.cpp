// Whole-or-nothing output and progress; see output.h.
#include "output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace streamconv {

namespace {

// The temporary output, removed when a signal ends the program.
char g_temp[PATH_MAX];

void on_signal(int sig)
{
	if (g_temp[0])
		unlink(g_temp);
	signal(sig, SIG_DFL);
	raise(sig);
}

constexpr double kProgressFromSeconds = 60.0;

} // namespace

std::string Output::failed(const char *what) const
{
	return std::string(what) + " " + (path_ == "-" ? std::string("standard output") : path_) + ": " +
	       strerror(errno);
}

std::string Output::open(const std::string &p)
{
	path_ = p;
	signal(SIGINT, on_signal);
	signal(SIGTERM, on_signal);
	signal(SIGHUP, on_signal);
	signal(SIGPIPE, on_signal);
	if (p == "-") {
		if (isatty(STDOUT_FILENO))
			return "will not write binary samples to a terminal: give -o file or redirect the output";
		f_ = stdout;
		return "";
	}
	struct stat st;
	if (stat(p.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
		f_ = fopen(p.c_str(), "wb");
		return f_ ? "" : failed("cannot write");
	}
	const size_t slash = p.rfind('/');
	const std::string dir = slash == std::string::npos ? "" : p.substr(0, slash + 1);
	const std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
	std::string temp = dir + "." + base + ".XXXXXX";
	if (temp.size() >= sizeof g_temp)
		return "output name too long: " + p;
	std::vector<char> name(temp.begin(), temp.end());
	name.push_back('\0');
	int fd = mkstemp(name.data());
	if (fd < 0)
		return failed("cannot create");
	temp_ = name.data();
	memcpy(g_temp, temp_.c_str(), temp_.size() + 1);
	const mode_t mask = umask(0);
	umask(mask);
	fchmod(fd, 0666 & ~mask);
	f_ = fdopen(fd, "wb");
	if (!f_) {
		const std::string err = failed("cannot create");
		close(fd);
		discard();
		return err;
	}
	return "";
}

std::string Output::write(const std::vector<unsigned char> &bytes)
{
	if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f_) != bytes.size())
		return failed("cannot write");
	// A pipe to the daemon gets the frames as they are made.
	if (live() && fflush(f_) != 0)
		return failed("cannot write");
	return "";
}

std::string Output::commit()
{
	if (fflush(f_) != 0 || (f_ != stdout && fclose(f_) != 0)) {
		f_ = nullptr;
		return failed("cannot write");
	}
	f_ = nullptr;
	if (!temp_.empty()) {
		if (rename(temp_.c_str(), path_.c_str()) != 0)
			return failed("cannot write");
		temp_.clear();
		g_temp[0] = '\0';
	}
	return "";
}

void Output::discard()
{
	if (!temp_.empty()) {
		unlink(temp_.c_str());
		temp_.clear();
		g_temp[0] = '\0';
	}
}

std::string minutes(double s)
{
	char buf[64];
	if (s < 120)
		snprintf(buf, sizeof buf, "%.0f s", s);
	else
		snprintf(buf, sizeof buf, "%.1f min", s / 60);
	return buf;
}

Progress::Progress(const char *program, double total_s)
	: program_(program), total_s_(total_s), next_(total_s > kProgressFromSeconds ? total_s / 10 : 600.0)
{
}

void Progress::update(double done_s)
{
	if (done_s < next_)
		return;
	if (total_s_ > kProgressFromSeconds) {
		fprintf(stderr, "%s: %.0f%% (%s of %s)\n", program_, 100 * done_s / total_s_, minutes(done_s).c_str(),
			minutes(total_s_).c_str());
		next_ += total_s_ / 10;
	} else if (total_s_ < 0) {
		fprintf(stderr, "%s: %s converted\n", program_, minutes(done_s).c_str());
		next_ += 600.0;
	} else {
		next_ = 1e300;
	}
}

} // namespace streamconv
