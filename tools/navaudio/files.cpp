// navaudio's input and output files.  See files.h.
#include "files.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "navaudio.h"

std::string minutes(double s)
{
	char buf[64];
	if (s < 120)
		snprintf(buf, sizeof buf, "%.0f s", s);
	else
		snprintf(buf, sizeof buf, "%.1f min", s / 60);
	return buf;
}

namespace {

// ----------------------------------------------------------------- output

// The temporary output, removed when a signal ends the program.
char g_temp[PATH_MAX];

void on_signal(int sig)
{
	if (g_temp[0])
		unlink(g_temp);
	signal(sig, SIG_DFL);
	raise(sig);
}

// A regular output file is written under a temporary name beside it and
// renamed when complete, so that no partial stream passes for a whole one.
// Standard output, devices and pipes are written as they are.
struct Output {
	FILE *f = nullptr;
	std::string path, temp;

	void open(const std::string &p)
	{
		path = p;
		if (p == "-") {
			if (isatty(STDOUT_FILENO))
				fail("will not write binary samples to a terminal: give -o file or redirect the output");
			f = stdout;
			return;
		}
		struct stat st;
		if (stat(p.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
			f = fopen(p.c_str(), "wb");
			if (!f)
				fail("cannot write " + p + ": " + strerror(errno));
			return;
		}
		const size_t slash = p.rfind('/');
		const std::string dir = slash == std::string::npos ? "" : p.substr(0, slash + 1);
		const std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
		temp = dir + "." + base + ".XXXXXX";
		if (temp.size() >= sizeof g_temp)
			fail("output name too long: " + p);
		std::vector<char> name(temp.begin(), temp.end());
		name.push_back('\0');
		int fd = mkstemp(name.data());
		if (fd < 0)
			fail("cannot create " + p + ": " + strerror(errno));
		temp = name.data();
		memcpy(g_temp, temp.c_str(), temp.size() + 1);
		const mode_t mask = umask(0);
		umask(mask);
		fchmod(fd, 0666 & ~mask);
		f = fdopen(fd, "wb");
		if (!f) {
			close(fd);
			discard();
			fail("cannot create " + p + ": " + strerror(errno));
		}
	}

	void write(const std::vector<unsigned char> &bytes, bool live)
	{
		if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
			fail("cannot write " + (path == "-" ? std::string("standard output") : path) + ": " +
			     strerror(errno));
		// A pipe to the daemon gets the frames as they are made.
		if (live && fflush(f) != 0)
			fail("cannot write " + (path == "-" ? std::string("standard output") : path) + ": " +
			     strerror(errno));
	}

	void commit()
	{
		if (fflush(f) != 0 || (f != stdout && fclose(f) != 0)) {
			f = nullptr;
			fail("cannot write " + path + ": " + strerror(errno));
		}
		f = nullptr;
		if (!temp.empty()) {
			if (rename(temp.c_str(), path.c_str()) != 0)
				fail("cannot write " + path + ": " + strerror(errno));
			temp.clear();
			g_temp[0] = '\0';
		}
	}

	void discard()
	{
		if (!temp.empty()) {
			unlink(temp.c_str());
			temp.clear();
			g_temp[0] = '\0';
		}
	}
};

Output g_out;

// ------------------------------------------------------------------ input

struct SoundFileInput : Input {
	SNDFILE *sf = nullptr;
	SF_INFO info{};
	int pick = 0;
	bool shorter_than_header = false;
	long long promised = -1; // a stream's length from its header
	std::vector<float> frames;

	SoundFileInput(const std::string &path, int channel)
	{
		name = path == "-" ? "standard input" : path;
		if (path == "-") {
			struct stat st;
			live = fstat(STDIN_FILENO, &st) == 0 && !S_ISREG(st.st_mode);
			sf = sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE);
		} else {
			sf = sf_open(path.c_str(), SFM_READ, &info);
		}
		if (!sf) {
			// libsndfile calls a header without a sample rate an
			// internal error of its own.
			const std::string why = sf_strerror(nullptr);
			if (why.find("SF_INFO struct incomplete") != std::string::npos)
				fail("cannot read " + name + ": its header gives a sample rate of 0 Hz");
			fail("cannot read " + name + ": " + why);
		}
		if (channel > info.channels)
			fail(name + " has " + std::to_string(info.channels) + " channel" +
			     (info.channels == 1 ? "" : "s") + ", not " + std::to_string(channel));
		pick = channel - 1;
		rate = info.samplerate;
		// libsndfile reads a file cut short (a recorder that died) as far
		// as it goes; its log tells when the header promised more.
		char log[4096] = "";
		sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
		shorter_than_header = strstr(log, "(should be") != nullptr;
		if (info.seekable && info.frames > 0 && info.frames < (1LL << 50))
			samples = info.frames;
		else if (!info.seekable && info.frames > 0 && !placeholder_length())
			promised = info.frames;
	}
	// A recorder that streams a WAV does not know its length and writes
	// the largest it can (4 or 2 GB of data) into the header.
	bool placeholder_length() const
	{
		int width = 0;
		switch (info.format & SF_FORMAT_SUBMASK) {
		case SF_FORMAT_PCM_S8:
		case SF_FORMAT_PCM_U8: width = 1; break;
		case SF_FORMAT_PCM_16: width = 2; break;
		case SF_FORMAT_PCM_24: width = 3; break;
		case SF_FORMAT_PCM_32:
		case SF_FORMAT_FLOAT: width = 4; break;
		case SF_FORMAT_DOUBLE: width = 8; break;
		default: break;
		}
		return info.frames >= (1LL << 50) ||
		       (width > 0 && info.frames * info.channels * width >= 0x7F000000LL);
	}
	~SoundFileInput() override
	{
		if (sf)
			sf_close(sf);
	}
	long read(float *out, long n) override
	{
		frames.resize(static_cast<size_t>(n) * static_cast<size_t>(info.channels));
		const sf_count_t got = sf_readf_float(sf, frames.data(), n);
		if (got < n && sf_error(sf) != SF_ERR_NO_ERROR)
			fail("cannot decode " + name + ": " + sf_strerror(sf));
		for (sf_count_t k = 0; k < got; k++)
			out[k] = frames[static_cast<size_t>(k * info.channels + pick)];
		return static_cast<long>(got);
	}
	bool rewind() override
	{
		return info.seekable && sf_seek(sf, 0, SEEK_SET) == 0;
	}
	void check_end(long long got) override
	{
		if (samples > 0 && got < samples)
			fail(name + " ends after " + std::to_string(got) + " of its " + std::to_string(samples) +
			     " samples: the file is truncated or damaged");
		if (promised > 0 && got < promised)
			fprintf(stderr, "navaudio: warning: %s ends after %lld of the %lld samples its header "
				"promises (truncated?); the %s present are converted\n", name.c_str(), got, promised,
				minutes(got / rate).c_str());
		if (shorter_than_header)
			fprintf(stderr, "navaudio: warning: %s is shorter than its header says (truncated?); "
				"the %s present are converted\n", name.c_str(), minutes(got / rate).c_str());
	}
};

struct RawInput : Input {
	int fd = -1;
	bool own = false;
	navaudio::RawS16 dec;
	std::vector<unsigned char> bytes;
	std::vector<float> ready;
	size_t ready_pos = 0;

	RawInput(const std::string &path, double r)
	{
		rate = r;
		if (path == "-") {
			name = "standard input";
			fd = STDIN_FILENO;
		} else {
			name = path;
			fd = ::open(path.c_str(), O_RDONLY);
			if (fd < 0)
				fail("cannot read " + path + ": " + strerror(errno));
			own = true;
		}
		struct stat st;
		if (fstat(fd, &st) != 0)
			fail("cannot read " + name + ": " + strerror(errno));
		if (S_ISDIR(st.st_mode))
			fail("cannot read " + name + ": it is a folder");
		if (S_ISREG(st.st_mode))
			samples = st.st_size / 2;
		else
			live = true;
	}
	~RawInput() override
	{
		if (own)
			close(fd);
	}
	long read(float *out, long n) override
	{
		while (ready_pos >= ready.size()) {
			ready.clear();
			ready_pos = 0;
			bytes.resize(static_cast<size_t>(n) * 2);
			ssize_t got = ::read(fd, bytes.data(), bytes.size());
			if (got < 0 && errno == EINTR)
				continue;
			if (got < 0)
				fail("cannot read " + name + ": " + strerror(errno));
			if (got == 0)
				return 0;
			dec.decode(bytes.data(), static_cast<size_t>(got), ready);
		}
		const long give = std::min<long>(n, static_cast<long>(ready.size() - ready_pos));
		std::copy(ready.begin() + static_cast<long>(ready_pos), ready.begin() + static_cast<long>(ready_pos) + give,
			  out);
		ready_pos += static_cast<size_t>(give);
		return give;
	}
	bool rewind() override
	{
		if (live || lseek(fd, 0, SEEK_SET) != 0)
			return false;
		dec = navaudio::RawS16{};
		ready.clear();
		ready_pos = 0;
		return true;
	}
	void check_end(long long) override
	{
		if (dec.dangling())
			fprintf(stderr, "navaudio: %s ends in the middle of a sample; its last byte is left out\n",
				name.c_str());
	}
};

} // namespace


void fail(const std::string &msg)
{
	g_out.discard();
	fprintf(stderr, "navaudio: %s\n", msg.c_str());
	exit(1);
}

void output_open(const std::string &path)
{
	signal(SIGINT, on_signal);
	signal(SIGTERM, on_signal);
	signal(SIGHUP, on_signal);
	signal(SIGPIPE, on_signal);
	g_out.open(path);
}

bool output_live()
{
	return g_out.path == "-" || g_out.temp.empty();
}

void output_write(const std::vector<unsigned char> &bytes, bool live)
{
	g_out.write(bytes, live);
}

void output_commit()
{
	g_out.commit();
}

std::unique_ptr<Input> open_sound_file(const std::string &path, int channel)
{
	return std::make_unique<SoundFileInput>(path, channel);
}

std::unique_ptr<Input> open_raw_s16(const std::string &path, double rate)
{
	return std::make_unique<RawInput>(path, rate);
}
