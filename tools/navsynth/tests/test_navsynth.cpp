// Transmitter model: code table, shifts, time diversity, tones, noise level
// and the stream layout of the written recording.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "navsynth.h"
#include "stream_format.h"

using namespace navsynth;

namespace {

int ones(Code c) { return __builtin_popcount(c.bits); }

std::vector<unsigned char> render_bytes(const Config &cfg)
{
	FILE *f = tmpfile();
	EXPECT_NE(f, nullptr);
	EXPECT_EQ(write_recording(cfg, f, nullptr), "");
	std::vector<unsigned char> bytes;
	rewind(f);
	int c;
	while ((c = fgetc(f)) != EOF)
		bytes.push_back(static_cast<unsigned char>(c));
	fclose(f);
	return bytes;
}

Config one_channel(const std::string &text)
{
	Config cfg;
	cfg.channels = 1;
	cfg.chan.resize(1);
	if (!text.empty())
		cfg.chan[0].transmissions = {text};
	return cfg;
}

std::string run(const std::string &args, int &status)
{
	std::string cmd = std::string(NAVSYNTH_BIN) + " " + args + " 2>&1";
	FILE *p = popen(cmd.c_str(), "r");
	std::string out;
	char buf[256];
	while (p && fgets(buf, sizeof buf, p))
		out += buf;
	status = p ? pclose(p) : -1;
	return out;
}

} // namespace

TEST(NavsynthCode, EveryCharacterHasFourMarksAndAUniqueCode)
{
	std::string all = "ABCDEFGHIJKLMNOPQRSTUVWXYZ -?:38().,9014`57=2/6+";
	std::set<uint8_t> seen;
	for (char c : std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ ")) {
		Encoded e = encode_text(std::string(1, c));
		ASSERT_EQ(e.error, "") << c;
		ASSERT_EQ(e.codes.size(), 1u) << c;
		EXPECT_EQ(ones(e.codes[0]), 4) << c;
		EXPECT_TRUE(seen.insert(e.codes[0].bits).second) << "duplicate code for " << c;
	}
	for (Code c : {code_letters(), code_figures(), code_alpha(), code_beta(), code_rq()}) {
		EXPECT_EQ(ones(c), 4);
		EXPECT_TRUE(seen.insert(c.bits).second);
	}
	Encoded nl = encode_text("\n");
	ASSERT_EQ(nl.codes.size(), 2u);
	EXPECT_TRUE(seen.insert(nl.codes[0].bits).second);
	EXPECT_TRUE(seen.insert(nl.codes[1].bits).second);
	EXPECT_EQ(ones(nl.codes[0]), 4);
	EXPECT_EQ(ones(nl.codes[1]), 4);
	EXPECT_EQ(encode_text(all).error, "");
}

TEST(NavsynthCode, ShiftsAreSentOnlyWhenTheCaseChanges)
{
	Encoded e = encode_text("A12 B\n");
	ASSERT_EQ(e.error, "");
	Code a = encode_text("A").codes[0], q = encode_text("Q").codes[0];
	Code w = encode_text("W").codes[0], b = encode_text("B").codes[0];
	Code sp = encode_text(" ").codes[0];
	std::vector<uint8_t> want = {a.bits, code_figures().bits, q.bits, w.bits, sp.bits,
				     code_letters().bits, b.bits};
	ASSERT_GE(e.codes.size(), want.size() + 2);
	for (size_t k = 0; k < want.size(); k++)
		EXPECT_EQ(e.codes[k].bits, want[k]) << "position " << k;
	// Figures "1" and "Q" share a code; lower case is sent as upper case.
	EXPECT_EQ(encode_text("q").codes[0].bits, q.bits);
}

TEST(NavsynthCode, UnsendableCharactersAreNamedWithTheirOffset)
{
	Encoded e = encode_text("OK @ HERE");
	EXPECT_TRUE(e.codes.empty());
	EXPECT_NE(e.error.find("'@'"), std::string::npos) << e.error;
	EXPECT_NE(e.error.find("offset 3"), std::string::npos) << e.error;
	EXPECT_NE(encode_text("\t").error.find("code 9"), std::string::npos);
}

TEST(NavsynthDiversity, RepetitionFollowsFiveSlotsAfterTheFirstCopy)
{
	std::vector<Code> text = encode_text("ZCZC AB").codes;
	const int phasing = 4, idle = 3;
	std::vector<Code> s = interleave(text, phasing, idle);
	const size_t dx_len = phasing + text.size() + idle;
	ASSERT_EQ(s.size(), 2 * (dx_len + 2));
	// Phasing: signal 1 in the first-copy slots, alpha in the others.
	for (int m = 0; m < phasing; m++) {
		EXPECT_EQ(s[2 * m].bits, code_rq().bits);
		EXPECT_EQ(s[2 * m + 1].bits, code_alpha().bits);
	}
	for (size_t k = 0; k < text.size(); k++) {
		size_t dx_slot = 2 * (phasing + k);
		EXPECT_EQ(s[dx_slot].bits, text[k].bits);
		EXPECT_EQ(s[dx_slot + 5].bits, text[k].bits) << "repetition of character " << k;
	}
	// The stream ends with alpha in both slots.
	EXPECT_EQ(s.back().bits, code_alpha().bits);
	EXPECT_EQ(s[s.size() - 2].bits, code_alpha().bits);
}

TEST(NavsynthDiversity, MessagesSplitAtTheirEndLine)
{
	auto t = split_messages("ZCZC AA01\nONE\nNNNN\nZCZC AA02\r\nTWO\r\nNNNN  \r\ntrailing\n");
	ASSERT_EQ(t.size(), 3u);
	EXPECT_EQ(t[0], "ZCZC AA01\nONE\nNNNN\n");
	EXPECT_EQ(t[1], "ZCZC AA02\r\nTWO\r\nNNNN  \r\n");
	EXPECT_EQ(t[2], "trailing\n");
	EXPECT_TRUE(split_messages("\n \n").empty());
	EXPECT_EQ(split_messages("ZCZC X\nNNNN").size(), 1u);
}

TEST(NavsynthSignal, MarkIsTheUpperToneAndSpaceTheLower)
{
	Config cfg = one_channel("E");
	cfg.gap_s = 0;
	cfg.rate = 1700;
	ChannelSignal sig;
	ASSERT_EQ(render_channel(cfg, 0, sig, 0), "");
	// The phasing signal 1 starts 0,1,1: lower tone for one bit, then upper.
	auto rot = [&](int n) {
		std::complex<double> a(sig.i[n - 1], sig.q[n - 1]), b(sig.i[n], sig.q[n]);
		return std::arg(b * std::conj(a)) * cfg.rate / (2 * M_PI);
	};
	EXPECT_NEAR(rot(8), -85.0, 1.0);
	EXPECT_NEAR(rot(17 + 8), 85.0, 1.0);
	EXPECT_NEAR(std::hypot(sig.i[30], sig.q[30]), 785.0, 1.0);

	cfg.chan[0].offset_hz = 20;
	ASSERT_EQ(render_channel(cfg, 0, sig, 0), "");
	EXPECT_NEAR(rot(8), -65.0, 1.0);
}

// A transmission's own settings: its gap, level over the channel's noise,
// offset and bit-rate error, and the stretch of it the recording holds.
TEST(NavsynthSignal, TransmissionsTakeTheirOwnSettingsAndCuts)
{
	Config cfg = one_channel("E");
	cfg.rate = 1700;
	cfg.chan[0].transmissions.push_back("TEST");
	cfg.chan[0].snr_db = 60; // little noise; the levels below are over it
	TxParams a, b;
	a.gap_s = 2;
	a.snr_db = 66; // twice the channel's amplitude
	a.offset_hz = -30;
	b.gap_s = 0.5;
	b.snr_db = 60;
	b.offset_hz = 25;
	b.ppm = 10000;
	b.skip_s = 1.0;
	b.end_s = 3.0;
	cfg.chan[0].tx = {a, b};
	cfg.chan[0].tail_s = 4;
	ChannelSignal sig;
	ASSERT_EQ(render_channel(cfg, 0, sig, 0), "");
	ASSERT_EQ(sig.spans.size(), 2u);
	EXPECT_EQ(sig.spans[0].first, 3400u);
	const size_t a_len = sig.spans[0].second - sig.spans[0].first;
	EXPECT_EQ(sig.spans[1].first, sig.spans[0].second + 850);
	EXPECT_EQ(sig.spans[1].second - sig.spans[1].first, 3400u);
	EXPECT_EQ(sig.i.size(), sig.spans[1].second + 6800);
	auto rot = [&](size_t n) {
		std::complex<double> x(sig.i[n - 1], sig.q[n - 1]), y(sig.i[n], sig.q[n]);
		return std::arg(y * std::conj(x)) * cfg.rate / (2 * M_PI);
	};
	// Phasing signal 1 opens with a space bit.
	EXPECT_NEAR(rot(3400 + 8), -85.0 - 30.0, 2.0);
	EXPECT_NEAR(std::hypot(sig.i[3430], sig.q[3430]), 2 * 785.0, 30.0);
	EXPECT_NEAR(std::hypot(sig.i[sig.spans[1].first + 30], sig.q[sig.spans[1].first + 30]), 785.0, 30.0);
	// Each tone of the second sits 25 Hz up.
	for (size_t n = sig.spans[1].first + 5; n < sig.spans[1].first + 400; n += 7)
		EXPECT_NEAR(std::fabs(rot(n) - 25.0), 85.0, 8.0) << n;
	// Without the cuts and the rate error it would be as long as the first.
	cfg.chan[0].tx[1] = a;
	ASSERT_EQ(render_channel(cfg, 0, sig, 0), "");
	EXPECT_GT(sig.spans[1].second - sig.spans[1].first, a_len / 2);
	cfg.chan[0].tx.pop_back();
	EXPECT_NE(render_channel(cfg, 0, sig, 0), "");
}

TEST(NavsynthSignal, BitRateErrorStretchesTheTransmission)
{
	Config cfg = one_channel("TEST");
	cfg.gap_s = 0;
	ChannelSignal fast, slow;
	cfg.chan[0].ppm = 10000;
	ASSERT_EQ(render_channel(cfg, 0, fast, 0), "");
	cfg.chan[0].ppm = -10000;
	ASSERT_EQ(render_channel(cfg, 0, slow, 0), "");
	double ratio = double(slow.i.size()) / double(fast.i.size());
	EXPECT_NEAR(ratio, 1.01 / 0.99, 0.001);
}

TEST(NavsynthSignal, NoiseMatchesTheRequestedRatioInA500HzBand)
{
	Config cfg = one_channel("TEST");
	cfg.gap_s = 20; // measure the noise alone in the leading gap
	cfg.chan[0].snr_db = 6.0;
	ChannelSignal sig;
	ASSERT_EQ(render_channel(cfg, 0, sig, 0), "");
	size_t n = static_cast<size_t>(cfg.gap_s * cfg.rate);
	double p = 0;
	for (size_t k = 0; k < n; k++)
		p += sig.i[k] * double(sig.i[k]) + sig.q[k] * double(sig.q[k]);
	p /= double(n);
	double band_noise = p * 500.0 / cfg.rate;
	double snr = 785.0 * 785.0 / band_noise;
	EXPECT_NEAR(10 * std::log10(snr), 6.0, 0.1);
}

TEST(NavsynthStream, FramesCarryQThenIAndAMarkOnEverySixtyFourthFrame)
{
	Config cfg;
	cfg.channels = 3;
	cfg.chan.resize(3);
	cfg.chan[1].transmissions = {"ZCZC AA01\nHELLO\nNNNN\n"};
	cfg.phasing_s = 1;
	std::vector<unsigned char> bytes = render_bytes(cfg);
	ASSERT_EQ(bytes.size() % 12, 0u);
	size_t frames = bytes.size() / 12;
	ChannelSignal sig1;
	ASSERT_EQ(render_channel(cfg, 1, sig1, frames), "");
	ASSERT_EQ(sig1.i.size(), frames);
	for (size_t n = 0; n < frames; n++) {
		for (int w = 0; w < 6; w++) {
			uint16_t word = stream_format::get_word(&bytes[n * 12 + 2 * w]);
			bool mark = word & stream_format::kMarkBit;
			EXPECT_EQ(mark, w == 5 && (n + 1) % 64 == 0) << "frame " << n << " word " << w;
		}
		uint16_t q = stream_format::get_word(&bytes[n * 12 + 4]) & 0x7fff;
		uint16_t i = stream_format::get_word(&bytes[n * 12 + 6]) & 0x7fff;
		ASSERT_EQ(q, stream_format::to_sample(std::lround(sig1.q[n]))) << n;
		ASSERT_EQ(i, stream_format::to_sample(std::lround(sig1.i[n]))) << n;
	}
}

TEST(NavsynthStream, SameSeedSameBytesOtherSeedOtherNoise)
{
	Config cfg = one_channel("ZCZC AB12\nX\nNNNN\n");
	cfg.chan[0].snr_db = 10;
	cfg.phasing_s = 1;
	auto a = render_bytes(cfg), b = render_bytes(cfg);
	cfg.seed = 2;
	auto c = render_bytes(cfg);
	EXPECT_EQ(a, b);
	ASSERT_EQ(a.size(), c.size());
	EXPECT_NE(a, c);
}

TEST(NavsynthStream, ShortChannelsAreFilledWithTheirNoiseToTheCommonLength)
{
	Config cfg;
	cfg.channels = 2;
	cfg.chan.resize(2);
	cfg.chan[0].transmissions = {"SHORT\n"};
	cfg.chan[1].transmissions = {"A MUCH LONGER TEXT ON THIS CHANNEL\n"};
	cfg.chan[0].snr_db = 10;
	std::vector<unsigned char> bytes = render_bytes(cfg);
	size_t frames = bytes.size() / 8;
	// The last frames of channel 0 are noise, not silence at mid level.
	int off_mid = 0;
	for (size_t n = frames - 200; n < frames; n++)
		off_mid += (stream_format::get_word(&bytes[n * 8]) & 0x7fff) != stream_format::kSampleMid;
	EXPECT_GT(off_mid, 150);
}

TEST(NavsynthProgram, RefusesBadSettingsWithAClearMessage)
{
	int st = 0;
	std::string out = run("-o /tmp/navsynth_unused.raw -c 5", st);
	EXPECT_NE(WEXITSTATUS(st), 0);
	EXPECT_NE(out.find("channel count must be 1 to 4"), std::string::npos) << out;

	out = run("-o /tmp/navsynth_unused.raw -a loud", st);
	EXPECT_NE(WEXITSTATUS(st), 0);
	EXPECT_NE(out.find("bad number for -a: 'loud'"), std::string::npos) << out;

	out = run("-k 3 -t HELLO -o /tmp/navsynth_unused.raw", st);
	EXPECT_NE(WEXITSTATUS(st), 0);
	EXPECT_NE(out.find("only 3 channels"), std::string::npos) << out;

	out = run("-m /nonexistent/msgs.txt -o /tmp/navsynth_unused.raw", st);
	EXPECT_NE(WEXITSTATUS(st), 0);
	EXPECT_NE(out.find("cannot read message file /nonexistent/msgs.txt"), std::string::npos) << out;

	// An unsendable text is refused before the output is touched: an
	// existing file keeps its contents, and a device is never removed.
	char path[] = "/tmp/navsynth_keepXXXXXX";
	int fd = mkstemp(path);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(write(fd, "keep", 4), 4);
	close(fd);
	out = run(std::string("-t 'PRICE: 5$' -o ") + path, st);
	EXPECT_NE(WEXITSTATUS(st), 0);
	EXPECT_NE(out.find("message 1: cannot send character '$'"), std::string::npos) << out;
	struct stat sb;
	ASSERT_EQ(stat(path, &sb), 0);
	EXPECT_EQ(sb.st_size, 4);
	unlink(path);

	out = run("-c 1", st);
	EXPECT_NE(WEXITSTATUS(st), 0);
	EXPECT_NE(out.find("no output file"), std::string::npos) << out;
}

TEST(NavsynthProgram, WritesWholeFramesAndReportsTheLength)
{
	char path[] = "/tmp/navsynth_testXXXXXX";
	int fd = mkstemp(path);
	ASSERT_GE(fd, 0);
	close(fd);
	int st = 0;
	std::string out = run(std::string("-c 2 -k 1 -t 'ZCZC AA00' -p 1 -o ") + path, st);
	EXPECT_EQ(WEXITSTATUS(st), 0) << out;
	FILE *f = fopen(path, "rb");
	ASSERT_NE(f, nullptr);
	fseek(f, 0, SEEK_END);
	long size = ftell(f);
	fclose(f);
	unlink(path);
	EXPECT_EQ(size % 8, 0);
	EXPECT_NE(out.find(std::to_string(size / 8) + " frames"), std::string::npos) << out;
	EXPECT_NE(out.find("2 channels"), std::string::npos) << out;
}

TEST(NavsynthAudio, NoiseAndToneMatchTheRatioInA500HzBandAndTheLevel)
{
	for (double rate : {8000.0, 48000.0}) {
		Config cfg = one_channel("TEST TEST TEST");
		cfg.chan[0].snr_db = 6;
		cfg.gap_s = 2;
		AudioConfig ac;
		ac.rate = rate;
		ac.centre_hz = 1500;
		std::vector<float> a;
		ASSERT_EQ(render_audio(cfg, 0, ac, a), "");
		// The gap before the transmission is noise alone; the rest holds
		// the tones and the same noise.
		const size_t gap = static_cast<size_t>(rate * 1.9), start = static_cast<size_t>(rate * 2.1);
		const size_t end = a.size() - static_cast<size_t>(rate * 2.1);
		double noise = 0, total = 0;
		for (size_t n = 0; n < gap; n++)
			noise += double(a[n]) * a[n];
		for (size_t n = start; n < end; n++)
			total += double(a[n]) * a[n];
		noise /= gap;
		total /= end - start;
		// Noise power in 500 Hz of the audio band (half the rate).
		const double snr = (total - noise) / (noise * 500 / (rate / 2));
		EXPECT_NEAR(10 * std::log10(snr), 6.0, 0.3) << rate;
		EXPECT_NEAR(std::sqrt(total), ac.level, 0.01 * ac.level) << rate;
	}
	AudioConfig too_high;
	too_high.rate = 8000;
	too_high.centre_hz = 3900;
	std::vector<float> a;
	EXPECT_NE(render_audio(one_channel("TEST"), 0, too_high, a), "");
}
