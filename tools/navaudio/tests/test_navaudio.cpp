// Receiver audio to the device stream: round trips through the daemon's
// chain, the tone centre finder, the stream layout, bad input, the pipe.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "check.h"
#include "navaudio.h"
#include "navsynth.h"
#include "stream_format.h"
#include "tests/program_test.h"

namespace fs = std::filesystem;
using navaudio_check::audio_case;

namespace {

using streamconv_test::q;
using streamconv_test::run;
using streamconv_test::Scratch;

// Keyed tones of one message at `snr_db`, as receiver audio.
std::vector<float> message_audio(double rate, double centre, bool lower, double snr_db, uint64_t seed)
{
	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.seed = seed;
	cfg.chan.resize(1);
	cfg.chan[0].transmissions = {sensitivity::message_text(seed)};
	cfg.chan[0].snr_db = snr_db;
	navsynth::AudioConfig ac;
	ac.rate = rate;
	ac.centre_hz = centre;
	ac.lower = lower;
	std::vector<float> out;
	EXPECT_EQ(navsynth::render_audio(cfg, 0, ac, out), "");
	return out;
}

std::vector<unsigned char> s16le(const std::vector<float> &audio)
{
	std::vector<unsigned char> b;
	for (float v : audio) {
		long x = std::lround(std::max(-1.0f, std::min(v, 0.99997f)) * 32768.0f);
		b.push_back(static_cast<unsigned char>(x & 0xff));
		b.push_back(static_cast<unsigned char>((x >> 8) & 0xff));
	}
	return b;
}

bool decodes(const std::vector<unsigned char> &stream, int ch, uint64_t seed)
{
	navaudio_check::decoded d;
	EXPECT_EQ(navaudio_check::decode_channel(stream, ch, d), "");
	for (size_t k = 0; k < d.ids.size(); k++)
		if (d.ids[k] == sensitivity::message_id(seed) && d.errors[k] == 0)
			return true;
	return false;
}

// Writes mono audio as a WAV file of the given sample format.
bool write_wav(const std::string &path, const std::vector<float> &audio, double rate, int subformat)
{
	SF_INFO info{};
	info.samplerate = static_cast<int>(rate);
	info.channels = 1;
	info.format = SF_FORMAT_WAV | subformat;
	SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
	if (!f)
		return false;
	const bool ok = sf_write_float(f, audio.data(), static_cast<sf_count_t>(audio.size())) ==
			static_cast<sf_count_t>(audio.size());
	return sf_close(f) == 0 && ok;
}

std::vector<unsigned char> read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// Root mean square of the audio: the level of the noise put around a
// message.
double rms(const std::vector<float> &x)
{
	double sum = 0;
	for (float v : x)
		sum += static_cast<double>(v) * v;
	return std::sqrt(sum / static_cast<double>(x.size()));
}

} // namespace

TEST(NavaudioRoundTrip, EveryMessageOfATenDbRecordingAtEachRateCentreAndSideband)
{
	uint64_t seed = 1;
	for (double rate : {8000.0, 11025.0, 44100.0, 48000.0})
		for (double centre : {500.0, 1500.0, 2500.0})
			for (bool lower : {false, true}) {
				audio_case c;
				c.cond.snr_db = 10;
				c.cond.seed = seed++;
				c.audio_rate = rate;
				c.centre_hz = centre;
				c.lower = lower;
				sensitivity::outcome o;
				ASSERT_EQ(navaudio_check::run_audio_case(c, o), "");
				EXPECT_TRUE(o.msg_ok && o.msg_errors == 0 && o.wrong_chars == 0)
					<< rate << " Hz, centre " << centre << (lower ? " lower" : " upper") << ": "
					<< o.wrong_chars << " wrong characters, message " << (o.msg_ok ? "queued" : "missing")
					<< " with " << o.msg_errors << " errors";
			}
}

TEST(NavaudioRoundTrip, TheWrongSidebandOrCentreDecodesNothing)
{
	const auto audio = message_audio(8000, 1200, false, 20, 2);
	navaudio::Settings s;
	s.in_rate = 8000;
	s.centre_hz = 1200;
	std::vector<unsigned char> stream;
	ASSERT_EQ(navaudio_check::convert(audio, s, stream), "");
	EXPECT_TRUE(decodes(stream, 1, 2));
	s.invert = true; // mark and space swapped
	ASSERT_EQ(navaudio_check::convert(audio, s, stream), "");
	EXPECT_FALSE(decodes(stream, 1, 2));
	s.invert = false;
	s.centre_hz = 1370; // the upper tone taken for the centre
	ASSERT_EQ(navaudio_check::convert(audio, s, stream), "");
	EXPECT_FALSE(decodes(stream, 1, 2));
}

TEST(NavaudioStream, FramesAtTheFrameRateWithMarksLevelAndQuietOtherChannels)
{
	const double rate = 11025, seconds = 30;
	navsynth::Gauss g(3);
	std::vector<float> audio(static_cast<size_t>(rate * seconds));
	// A steady tone 85 Hz above the centre, with noise.
	for (size_t n = 0; n < audio.size(); n++)
		audio[n] = static_cast<float>(0.05 * std::sin(2 * M_PI * 1085.0 * n / rate) + 0.01 * g.next());
	for (double fps : {stream_format::kBoardFrameRate, 1700.0}) {
		navaudio::Settings s;
		s.in_rate = rate;
		s.centre_hz = 1000;
		s.frame_rate = fps;
		s.channel = 2;
		std::vector<unsigned char> stream;
		ASSERT_EQ(navaudio_check::convert(audio, s, stream), "");
		ASSERT_EQ(stream.size() % 12, 0u);
		const size_t frames = stream.size() / 12;
		EXPECT_NEAR(static_cast<double>(frames), seconds * fps, 0.002 * seconds * fps) << fps;
		double abs_sig[2] = {0, 0}, abs_other = 0, phase_turn = 0;
		size_t counted = 0;
		double prev_i = 0, prev_q = 0;
		for (size_t f = 0; f < frames; f++) {
			const unsigned char *p = stream.data() + 12 * f;
			for (int w = 0; w < 6; w++) {
				const bool mark = stream_format::get_word(p + 2 * w) & stream_format::kMarkBit;
				ASSERT_EQ(mark, w == 5 && (f + 1) % 64 == 0) << "frame " << f << " word " << w;
			}
			auto val = [&](int w) {
				return static_cast<double>(stream_format::get_word(p + 2 * w) & stream_format::kSampleMask) -
				       stream_format::kSampleMid;
			};
			if (f < frames / 10)
				continue; // the level settles
			const double qv = val(4), iv = val(5);
			abs_sig[0] += std::fabs(qv);
			abs_sig[1] += std::fabs(iv);
			abs_other += std::fabs(val(0)) + std::fabs(val(1)) + std::fabs(val(2)) + std::fabs(val(3));
			// Imaginary part of z[n] conj(z[n-1]): positive for a tone above the centre.
			phase_turn += qv * prev_i - iv * prev_q;
			prev_i = iv;
			prev_q = qv;
			counted++;
		}
		EXPECT_NEAR(abs_sig[0] / counted, navaudio::kTargetLevel, 60);
		EXPECT_NEAR(abs_sig[1] / counted, navaudio::kTargetLevel, 60);
		EXPECT_LT(abs_other / (4 * counted), 30); // low noise
		EXPECT_GT(phase_turn, 0) << "the tone above the centre must stay above it";
	}
}

TEST(NavaudioCentre, FindsTheTonePairInNoiseWithinFiveHertz)
{
	uint64_t seed = 1;
	for (double rate : {8000.0, 48000.0})
		for (double centre : {300.0, 737.0, 1012.0, 1900.0, 2950.0})
			for (double snr : {3.0, 10.0}) {
				const auto audio = message_audio(rate, centre, seed % 2 == 0, snr, seed);
				seed++;
				navaudio::CentreFinder f(rate);
				f.push(audio.data(), audio.size());
				double found = 0;
				ASSERT_TRUE(f.result(found)) << rate << " Hz, centre " << centre << ", SNR " << snr;
				EXPECT_NEAR(found, centre, 5.0) << rate << " Hz, SNR " << snr;
			}

	// Two steady tones in noise, with a stronger lone carrier elsewhere:
	// the pair wins.  Noise alone has no pair.
	const double rate = 8000;
	navsynth::Gauss g(9);
	std::vector<float> pair(static_cast<size_t>(rate * 20)), noise(pair.size());
	for (size_t n = 0; n < pair.size(); n++) {
		const double t = n / rate;
		noise[n] = static_cast<float>(0.05 * g.next());
		pair[n] = static_cast<float>(0.03 * std::sin(2 * M_PI * 1515 * t) + 0.03 * std::sin(2 * M_PI * 1685 * t) +
					     0.08 * std::sin(2 * M_PI * 600 * t) + noise[n]);
	}
	navaudio::CentreFinder f(rate), none(rate);
	f.push(pair.data(), pair.size());
	none.push(noise.data(), noise.size());
	double found = 0;
	ASSERT_TRUE(f.result(found));
	EXPECT_NEAR(found, 1600, 5.0);
	EXPECT_FALSE(none.result(found)) << "found " << found << " Hz in noise";
}

TEST(NavaudioProgram, RefusesBadInputClearlyAndLeavesNoOutputBehind)
{
	Scratch dir;
	const std::string bin = NAVAUDIO_BIN, out = dir / "out.raw";
	int st = 0;
	ASSERT_EQ(system((std::string(NAVSYNTH_BIN) + " -t 'ZCZC SA42 TEST' -n 10 -A 8000 -W " + q(dir / "good.flac") +
			  " 2>/dev/null").c_str()),
		  0);
	{
		std::ofstream(dir / "text.wav") << "this is no audio file\n";
		std::ofstream(dir / "empty.raw");
		// The first part of a FLAC file: its decoder loses the stream.
		std::ifstream in(dir / "good.flac", std::ios::binary);
		std::vector<char> b(20000);
		in.read(b.data(), static_cast<long>(b.size()));
		std::ofstream(dir / "cut.flac", std::ios::binary).write(b.data(), in.gcount());
		// A WAV header whose rate and byte rate are 0.
		ASSERT_TRUE(write_wav(dir / "zero-rate.wav", std::vector<float>(800, 0.1f), 8000, SF_FORMAT_PCM_16));
		std::fstream z(dir / "zero-rate.wav", std::ios::binary | std::ios::in | std::ios::out);
		z.seekp(24);
		z.write("\0\0\0\0\0\0\0\0", 8);
	}
	struct bad {
		std::string args, says;
	};
	const bad cases[] = {
		{q(dir / "missing.wav"), "cannot read"},
		{q(dir / "text.wav"), "cannot read"},
		{q(dir / "cut.flac"), "cannot decode"},
		{"-c 1000 -r 8000 -e s16 " + q(dir / "empty.raw"), "holds no audio"},
		{"-r 1000 -e s16 " + q(dir / "empty.raw"), "out of range"},
		{"-r 8000 -e u8 " + q(dir / "empty.raw"), "unsupported raw encoding"},
		{"-e s16 " + q(dir / "empty.raw"), "needs its sample rate"},
		{"-c 3800 " + q(dir / "good.flac"), "out of range"},
		{"-C 2 " + q(dir / "good.flac"), "has 1 channel"},
		{"-S 100 " + q(dir / "good.flac"), "out of range"},
		{"-k 3 " + q(dir / "good.flac"), "channel"},
		{"-C 1025 " + q(dir / "good.flac"), "must be 1 to 1024"},
		{q(dir / "zero-rate.wav"), "sample rate of 0 Hz"},
	};
	for (const bad &b : cases) {
		std::string said = run(bin + " -o " + q(out) + " " + b.args, st);
		EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0) << b.args << ": " << said;
		EXPECT_NE(said.find("navaudio: "), std::string::npos) << b.args << ": " << said;
		EXPECT_NE(said.find(b.says), std::string::npos) << b.args << ": " << said;
		EXPECT_FALSE(fs::exists(out)) << b.args;
	}
	// Neither the output nor a temporary file of it is left.
	for (const std::string &n : dir.names())
		EXPECT_EQ(n.find("out.raw"), std::string::npos) << n;

	// The good file converts, its centre found and said.
	std::string said = run(bin + " -o " + q(out) + " " + q(dir / "good.flac"), st);
	EXPECT_EQ(st, 0) << said;
	const size_t at = said.find("tone centre ");
	ASSERT_NE(at, std::string::npos) << said;
	EXPECT_NEAR(atof(said.c_str() + at + 12), 1000, 5) << said;
	EXPECT_GT(fs::file_size(out), 12u * 1700 * 10);
	EXPECT_EQ(fs::file_size(out) % 12, 0u);
}

TEST(NavaudioProgram, ConvertsALiveStreamFromAPipeAndFeedsTheDaemon)
{
	Scratch dir;
	const auto audio = message_audio(8000, 1000, false, 10, 3);
	const auto raw = s16le(audio);

	// navaudio reading standard input: frames come out while the input is
	// still open.
	int to_child[2], from_child[2];
	ASSERT_EQ(pipe(to_child), 0);
	ASSERT_EQ(pipe(from_child), 0);
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		dup2(to_child[0], 0);
		dup2(from_child[1], 1);
		close(to_child[1]);
		close(from_child[0]);
		execl(NAVAUDIO_BIN, "navaudio", "-r", "8000", "-e", "s16", "-c", "1000", "-o", "-", "-", nullptr);
		_exit(127);
	}
	close(to_child[0]);
	close(from_child[1]);
	// Half the audio, then frames must come with the input still open;
	// written as the pipe takes it, reading what comes meanwhile.
	const size_t half = raw.size() / 2 & ~size_t(1);
	std::vector<unsigned char> stream;
	unsigned char buf[65536];
	size_t sent = 0;
	bool closed = false;
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
	for (;;) {
		ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "navaudio stalled";
		const bool frames_while_open = stream.size() >= 12u * 1000;
		const size_t limit = frames_while_open ? raw.size() : half;
		if (sent == raw.size() && !closed) {
			close(to_child[1]);
			closed = true;
		}
		pollfd p[2] = {{from_child[0], POLLIN, 0}, {closed || sent >= limit ? -1 : to_child[1], POLLOUT, 0}};
		if (poll(p, 2, 1000) <= 0)
			continue;
		if (p[0].revents) {
			ssize_t n = read(from_child[0], buf, sizeof buf);
			if (n <= 0) {
				ASSERT_TRUE(closed) << "navaudio ended with its input still open";
				break;
			}
			stream.insert(stream.end(), buf, buf + n);
		}
		if (p[1].revents & POLLOUT) {
			ssize_t n = write(to_child[1], raw.data() + sent, std::min<size_t>(4096, limit - sent));
			ASSERT_GT(n, 0);
			sent += static_cast<size_t>(n);
		}
	}
	close(from_child[0]);
	int st = 0;
	waitpid(pid, &st, 0);
	ASSERT_EQ(st, 0);
	EXPECT_TRUE(decodes(stream, 1, 3));

	// The documented pipeline into the daemon, centre found by itself.
	const std::string wav = dir / "rec.wav";
	ASSERT_EQ(system((std::string(NAVSYNTH_BIN) + " -t 'ZCZC SA42\nGALE WARNING\nNNNN' -n 10 -T 1012 -W " + q(wav) +
			  " 2>/dev/null").c_str()),
		  0);
	std::string said = run(std::string(NAVAUDIO_BIN) + " " + q(wav) + " -o - | " + SKERRIN_BIN + " -f -i /dev/stdin", st);
	EXPECT_EQ(st, 0) << said;
	EXPECT_NE(said.find("tone centre"), std::string::npos) << said;
	EXPECT_NE(said.find("Message id: SA42"), std::string::npos) << said;
	EXPECT_NE(said.find("No of errors 0 "), std::string::npos) << said;
}

TEST(NavaudioInput, HugeFloatSamplesAreClippedWithOneWarningAndTheMessageSurvives)
{
	Scratch dir;
	auto audio = message_audio(8000, 1000, false, 10, 4);
	// One sample that overflows a float filter, others that would fill the
	// level's memory for seconds, and one that is not a number.
	audio[100] = 3e38f;
	audio[200] = -1e30f;
	audio[300] = 1e30f;
	audio[400] = NAN;
	ASSERT_TRUE(write_wav(dir / "poison.wav", audio, 8000, SF_FORMAT_FLOAT));
	int st = 0;
	const std::string said = run(std::string(NAVAUDIO_BIN) + " -o " + q(dir / "out.raw") + " " + q(dir / "poison.wav"), st);
	ASSERT_EQ(st, 0) << said;
	size_t warnings = 0;
	for (size_t at = said.find("beyond full scale"); at != std::string::npos; at = said.find("beyond full scale", at + 1))
		warnings++;
	EXPECT_EQ(warnings, 1u) << said;
	EXPECT_NEAR(atof(said.c_str() + said.find("tone centre ") + 12), 1000, 5) << said;
	EXPECT_TRUE(decodes(read_file(dir / "out.raw"), 1, 4)) << said;
}

TEST(NavaudioCentre, AShortMessageInALongRecordingAndStationsOnSeveralCentres)
{
	const double rate = 8000;
	const auto a = message_audio(rate, 1000, false, 10, 11), b = message_audio(rate, 1800, false, 10, 12);
	const double level = rms(a);
	navsynth::Gauss g(5);
	auto noise_until = [&](std::vector<float> &x, double seconds) {
		while (static_cast<double>(x.size()) < seconds * rate)
			x.push_back(static_cast<float>(level * g.next()));
	};
	{
		// One message in ten minutes of noise twice as strong: it stands
		// out of its own minute, not of the whole recording's average.
		std::vector<float> x;
		noise_until(x, 600);
		for (float &v : x)
			v *= 2;
		for (size_t k = 0; k < a.size(); k++)
			x[static_cast<size_t>(300 * rate) + k] += a[k];
		navaudio::CentreFinder f(rate);
		f.push(x.data(), x.size());
		double found = 0;
		ASSERT_TRUE(f.result(found));
		EXPECT_NEAR(found, 1000, 5);
	}
	// Two stations a few minutes apart on centres 800 Hz apart: said, and
	// each message converted with its own centre.
	std::vector<float> y;
	noise_until(y, 65);
	y.insert(y.end(), a.begin(), a.end());
	noise_until(y, 185);
	y.insert(y.end(), b.begin(), b.end());
	noise_until(y, 250);
	float peak = 0;
	for (float v : y)
		peak = std::max(peak, std::fabs(v));
	for (float &v : y)
		v *= 0.9f / peak;
	Scratch dir;
	ASSERT_TRUE(write_wav(dir / "two.wav", y, rate, SF_FORMAT_PCM_16));
	int st = 0;
	const std::string said = run(std::string(NAVAUDIO_BIN) + " -o " + q(dir / "out.raw") + " " + q(dir / "two.wav"), st);
	ASSERT_EQ(st, 0) << said;
	const size_t at = said.find("several centres");
	ASSERT_NE(at, std::string::npos) << said;
	const std::string line = said.substr(at, said.find('\n', at) - at);
	// Each centre (within 5 Hz) with the minute it is first heard in.
	const size_t first = line.find(" Hz from 60 s, "), second = line.find(" Hz from 3.0 min)");
	ASSERT_TRUE(first != std::string::npos && second != std::string::npos) << line;
	EXPECT_NEAR(atof(line.c_str() + line.rfind('(', first) + 1), 1000, 5) << line;
	EXPECT_NEAR(atof(line.c_str() + line.rfind(' ', second - 1) + 1), 1800, 5) << line;
	const auto stream = read_file(dir / "out.raw");
	EXPECT_TRUE(decodes(stream, 1, 11));
	EXPECT_TRUE(decodes(stream, 1, 12));
}

TEST(NavaudioProgram, ALiveStreamIntoAMissingFolderFailsBeforeReadingAudio)
{
	Scratch dir;
	int to_child[2], from_child[2];
	ASSERT_EQ(pipe(to_child), 0);
	ASSERT_EQ(pipe(from_child), 0);
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		dup2(to_child[0], 0);
		dup2(from_child[1], 2);
		close(to_child[1]);
		close(from_child[0]);
		const std::string out = dir / "missing/out.raw";
		execl(NAVAUDIO_BIN, "navaudio", "-r", "8000", "-e", "s16", "-o", out.c_str(), "-", nullptr);
		_exit(127);
	}
	close(to_child[0]);
	close(from_child[1]);
	// No audio is written and the input stays open: the error must come
	// without it.
	std::string said;
	char buf[512];
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	for (;;) {
		ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "navaudio waits for audio: " << said;
		pollfd p{from_child[0], POLLIN, 0};
		if (poll(&p, 1, 1000) <= 0)
			continue;
		const ssize_t n = read(from_child[0], buf, sizeof buf);
		if (n <= 0)
			break;
		said.append(buf, static_cast<size_t>(n));
	}
	close(to_child[1]);
	close(from_child[0]);
	int st = 0;
	waitpid(pid, &st, 0);
	EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1) << said;
	EXPECT_NE(said.find("navaudio: cannot create"), std::string::npos) << said;
}

TEST(NavaudioProgram, WarnsOfASilentChannelAndOfAStreamCutShort)
{
	Scratch dir;
	const std::string bin = NAVAUDIO_BIN, out = q(dir / "out.raw");
	int st = 0;
	ASSERT_TRUE(write_wav(dir / "silent.wav", std::vector<float>(8000 * 5, 0.0f), 8000, SF_FORMAT_PCM_16));
	std::string said = run(bin + " -c 1000 -o " + out + " " + q(dir / "silent.wav"), st);
	EXPECT_EQ(st, 0) << said;
	EXPECT_NE(said.find("warning: the audio of " + dir / "silent.wav" + " is silent"), std::string::npos) << said;
	said = run(bin + " -o " + out + " " + q(dir / "silent.wav"), st);
	EXPECT_NE(st, 0) << said;
	EXPECT_NE(said.find("is silent: no tones to find"), std::string::npos) << said;

	// Half a WAV file through a pipe: its header promised twice as much.
	ASSERT_TRUE(write_wav(dir / "tone.wav", message_audio(8000, 1000, false, 10, 5), 8000, SF_FORMAT_PCM_16));
	const auto whole = read_file(dir / "tone.wav");
	std::ofstream(dir / "cut.wav", std::ios::binary)
		.write(reinterpret_cast<const char *>(whole.data()), static_cast<long>(whole.size() / 2));
	said = run("cat " + q(dir / "cut.wav") + " | " + bin + " -c 1000 -o " + out + " -", st);
	EXPECT_EQ(st, 0) << said;
	EXPECT_NE(said.find("warning: standard input ends after"), std::string::npos) << said;
	said = run("cat " + q(dir / "tone.wav") + " | " + bin + " -c 1000 -o " + out + " -", st);
	EXPECT_EQ(said.find("warning"), std::string::npos) << said;
}

TEST(NavaudioRaw, ASampleSplitAcrossReadsJoinsInOrder)
{
	// Bytes of samples whose two halves differ, fed in odd-sized pieces
	// as a pipe may deliver them.
	std::vector<unsigned char> bytes;
	std::vector<float> expect;
	for (int k = 0; k < 200; k++) {
		const int16_t v = static_cast<int16_t>(k * 331 - 30000);
		bytes.push_back(static_cast<unsigned char>(v & 0xff));
		bytes.push_back(static_cast<unsigned char>((v >> 8) & 0xff));
		expect.push_back(v / 32768.0f);
	}
	navaudio::RawS16 dec;
	std::vector<float> got;
	size_t at = 0;
	for (size_t piece = 1; at < bytes.size(); piece = piece % 7 + 2) {
		const size_t n = std::min(piece, bytes.size() - at);
		dec.decode(bytes.data() + at, n, got);
		at += n;
	}
	EXPECT_FALSE(dec.dangling());
	EXPECT_EQ(got, expect);
	dec.decode(bytes.data(), 1, got);
	EXPECT_TRUE(dec.dangling());
}

TEST(NumberOptions, NanAndInfinityAreRefusedByEveryProgram)
{
	Scratch dir;
	const std::string wav = q(dir / "a.wav"), out = q(dir / "out.raw");
	ASSERT_TRUE(write_wav(dir / "a.wav", std::vector<float>(8000, 0.1f), 8000, SF_FORMAT_PCM_16));
	for (const std::string v : {"nan", "inf", "-inf", "NAN", "infinity"}) {
		struct use {
			std::string cmd, says;
		};
		const use uses[] = {
			{std::string(NAVAUDIO_BIN) + " -c " + v + " -o " + out + " " + wav, "bad number for -c"},
			{std::string(NAVAUDIO_BIN) + " -S " + v + " -o " + out + " " + wav, "bad number for -S"},
			{std::string(NAVSYNTH_BIN) + " -r " + v + " -o " + out, "bad number for -r"},
			{std::string(NAVAUDIO_SENSITIVITY_BIN) + " -c " + v, "usage"},
			{std::string(SKERRIN_BIN) + " -f -i /dev/null -m " + v, "error rate limit must be a finite number"},
		};
		for (const use &u : uses) {
			int st = 0;
			const std::string said = run("timeout 60 " + u.cmd, st);
			EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0 && WEXITSTATUS(st) != 124) << u.cmd << ": " << said;
			EXPECT_NE(said.find(u.says), std::string::npos) << u.cmd << ": " << said;
		}
		// The daemon's equation option reports a bad equation and stops.
		int st = 0;
		const std::string said = run("timeout 60 " + std::string(SKERRIN_BIN) + " -f -i /dev/null -e 1," + v + ",2", st);
		EXPECT_NE(said.find("Error reading equation: 1," + v + ",2"), std::string::npos) << said;
		EXPECT_EQ(said.find("dbm equation"), std::string::npos) << said;
	}
	EXPECT_FALSE(fs::exists(dir / "out.raw"));
}
