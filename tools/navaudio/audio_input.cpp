// navaudio's input, sound file or headerless (see audio_input.h).
#include "audio_input.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli.h"
#include "navaudio.h"
#include "output.h"

namespace navaudio {

namespace {

using streamconv::fail;
using streamconv::minutes;

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
	streamconv::RawFile file;
	RawS16 dec;
	std::vector<unsigned char> bytes;
	std::vector<float> ready;
	size_t ready_pos = 0;

	RawInput(const std::string &path, double r) : file(path)
	{
		rate = r;
		name = file.name;
		live = file.live;
		if (file.size >= 0)
			samples = file.size / 2;
	}
	long read(float *out, long n) override
	{
		while (ready_pos >= ready.size()) {
			ready.clear();
			ready_pos = 0;
			bytes.resize(static_cast<size_t>(n) * 2);
			const size_t got = file.read(bytes.data(), bytes.size());
			if (got == 0)
				return 0;
			dec.decode(bytes.data(), got, ready);
		}
		const long give = std::min<long>(n, static_cast<long>(ready.size() - ready_pos));
		std::copy(ready.begin() + static_cast<long>(ready_pos), ready.begin() + static_cast<long>(ready_pos) + give,
			  out);
		ready_pos += static_cast<size_t>(give);
		return give;
	}
	bool rewind() override
	{
		if (!file.rewind())
			return false;
		dec = RawS16{};
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

std::unique_ptr<Input> open_sound_file(const std::string &path, int channel)
{
	return std::make_unique<SoundFileInput>(path, channel);
}

std::unique_ptr<Input> open_raw_s16(const std::string &path, double rate)
{
	return std::make_unique<RawInput>(path, rate);
}

} // namespace navaudio
