// SDR I/Q to the device stream: round trips through the daemon's chain in
// each sample format, a centre 300 Hz off, the centre from a WAV's auxi
// chunk, from a file name and from SigMF metadata, two channels of one
// capture on their own slots, a live pipe, and bad input.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sdr_check.h"
#include "tests/program_test.h"

namespace fs = std::filesystem;

namespace {

using streamconv_test::q;
using streamconv_test::run;
using streamconv_test::Scratch;

const std::string kSynth = std::string(NAVSYNTH_BIN) + " -k 0 -t 'ZCZC SA42\nGALE WARNING\nNNNN' -n 12" +
			   " -k 1 -t 'ZCZC OB17\nICE REPORT\nNNNN' -n 12";

// A headerless cs16 capture as a two-channel 16-bit WAV without an auxi
// chunk.
void raw_to_wav(const std::string &raw, const std::string &wav, int rate)
{
	std::ifstream in(raw, std::ios::binary);
	std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	SF_INFO info{};
	info.samplerate = rate;
	info.channels = 2;
	info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
	SNDFILE *sf = sf_open(wav.c_str(), SFM_WRITE, &info);
	ASSERT_NE(sf, nullptr);
	std::vector<short> v(b.size() / 2);
	memcpy(v.data(), b.data(), v.size() * 2);
	EXPECT_EQ(sf_writef_short(sf, v.data(), static_cast<sf_count_t>(v.size() / 2)),
		  static_cast<sf_count_t>(v.size() / 2));
	sf_close(sf);
}

} // namespace

TEST(NavsdrRoundTrip, EachFormatAndRateDecodesAtTenDbAndACentre300HzOffStillDecodes)
{
	struct one {
		iq_format::Format fmt;
		double rate, centre, error;
		int slot;
	};
	const one cases[] = {
		{iq_format::Format::cs16, 250000, 504000, 0, 1},
		{iq_format::Format::cs16, 62500, 510000, 0, 1},
		{iq_format::Format::cf32, 250000, 4200000, 0, 2},
		{iq_format::Format::cs8, 250000, 504000, 300, 1},
		{iq_format::Format::cu8, 2048000, 504000, -300, 0},
	};
	uint64_t seed = 1;
	for (const one &c : cases) {
		navsdr_check::iq_case ic;
		ic.cond.snr_db = 10;
		ic.cond.seed = seed++;
		ic.format = c.fmt;
		ic.iq_rate = c.rate;
		ic.centre_hz = c.centre;
		ic.centre_error_hz = c.error;
		ic.slot = c.slot;
		sensitivity::outcome o;
		navsdr::ChannelReport rep;
		ASSERT_EQ(navsdr_check::run_iq_case(ic, o, &rep), "");
		const std::string what = std::string(iq_format::name(c.fmt)) + " at " + std::to_string(c.rate) +
					 ", told " + std::to_string(c.error) + " Hz off";
		EXPECT_TRUE(o.msg_ok && o.msg_errors == 0 && o.wrong_chars == 0)
			<< what << ": " << o.wrong_chars << " wrong characters, message "
			<< (o.msg_ok ? "queued" : "missing");
		// The tone centre where the channel lies as navsdr sees it: told
		// a centre too high, it finds the channel as much higher.
		EXPECT_TRUE(rep.inside && rep.found) << what;
		EXPECT_NEAR(rep.tone_hz, navsdr::kNominalHz[c.slot] + c.error, 3.0) << what;
	}
}

TEST(NavsdrProgram, CentreFromAuxiNameAndSigmfTwoChannelsOnTheirSlotsAndALivePipe)
{
	Scratch dir;
	int st = 0;
	const std::string sdr = NAVSDR_BIN, skerrin = std::string(SKERRIN_BIN) + " -f -i /dev/stdin";
	auto decodes = [&](const std::string &said, const char *freq, const char *id) {
		const std::string want = std::string("Freq: ") + freq + ", Message id: " + id;
		const size_t at = said.find(want);
		return at != std::string::npos && said.find("No of errors 0 ", at) < said.find('\n', at);
	};

	// WAV with the centre in its auxi chunk; both channels decoded, each
	// on its own slot (the daemon names the slot's frequency).
	ASSERT_EQ(system((kSynth + " -Q " + q(dir / "cap.wav") + " -r 62500 -f 504000 2>/dev/null").c_str()), 0);
	std::string said = run(sdr + " -f 123456 -o - " + q(dir / "cap.wav") + " | " + skerrin, st);
	EXPECT_EQ(st, 0) << said;
	EXPECT_NE(said.find("centre 504000 Hz from its auxi chunk (-f 123456 not used)"), std::string::npos) << said;
	EXPECT_NE(said.find("channel 2 (4209.5 kHz): not in the capture"), std::string::npos) << said;
	EXPECT_TRUE(decodes(said, "490", "SA42")) << said;
	EXPECT_TRUE(decodes(said, "518", "OB17")) << said;

	// The same capture without an auxi chunk: the centre from the name.
	ASSERT_EQ(system((kSynth + " -Q " + q(dir / "cap.cs16") + " -F cs16 -r 62500 -f 510000 2>/dev/null").c_str()), 0);
	raw_to_wav(dir / "cap.cs16", dir / "SDR_20260101_510kHz_IQ.wav", 62500);
	said = run(sdr + " -o - " + q(dir / "SDR_20260101_510kHz_IQ.wav") + " | " + skerrin, st);
	EXPECT_EQ(st, 0) << said;
	EXPECT_NE(said.find("centre 510000 Hz from its name"), std::string::npos) << said;
	EXPECT_TRUE(decodes(said, "518", "OB17")) << said;

	// SigMF: format, rate and centre from the metadata.
	fs::rename(dir / "cap.cs16", dir / "rec.sigmf-data");
	std::ofstream(dir / "rec.sigmf-meta") << R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 62500,
		"core:version": "1.0.0"}, "captures": [{"core:sample_start": 0, "core:frequency": 510000}],
		"annotations": []})";
	said = run(sdr + " -o " + q(dir / "out.raw") + " " + q(dir / "rec.sigmf-meta") + " && " + SKERRIN_BIN +
			   " -f -i " + q(dir / "out.raw"),
		   st);
	EXPECT_EQ(st, 0) << said;
	EXPECT_NE(said.find("centre 510000 Hz from its SigMF capture"), std::string::npos) << said;
	EXPECT_TRUE(decodes(said, "490", "SA42")) << said;

	// A live SDR: headerless I/Q on a pipe, through navsdr into the daemon.
	said = run(kSynth + " -Q - -F cs8 -r 250000 -f 504300 | " + sdr + " -F cs8 -r 250000 -f 504000 -o - - | " +
			   skerrin,
		   st);
	EXPECT_EQ(st, 0) << said;
	EXPECT_TRUE(decodes(said, "490", "SA42")) << said;
	EXPECT_TRUE(decodes(said, "518", "OB17")) << said;
}

TEST(NavsdrProgram, RefusesBadInputClearlyAndLeavesNoOutputBehind)
{
	Scratch dir;
	const std::string bin = NAVSDR_BIN, out = dir / "out.raw";
	int st = 0;
	ASSERT_EQ(system((std::string(NAVSYNTH_BIN) + " -t 'ZCZC SA42 TEST' -A 8000 -W " + q(dir / "mono.wav") +
			  " 2>/dev/null").c_str()),
		  0);
	ASSERT_EQ(system((kSynth + " -Q " + q(dir / "good.wav") + " -r 62500 -f 504000 2>/dev/null").c_str()), 0);
	{
		std::ifstream in(dir / "good.wav", std::ios::binary);
		std::vector<char> b(200000);
		in.read(b.data(), static_cast<long>(b.size()));
		std::ofstream(dir / "cut.wav", std::ios::binary).write(b.data(), in.gcount());
		std::ofstream(dir / "odd.cs16", std::ios::binary).write(b.data(), 4001);
		std::ofstream(dir / "x.sigmf-data", std::ios::binary).write(b.data(), 4000);
		std::ofstream(dir / "x.sigmf-meta")
			<< R"({"global": {"core:datatype": "ci32_le", "core:sample_rate": 62500}, "captures": []})";
	}
	struct bad {
		std::string args, says;
	};
	const bad cases[] = {
		{q(dir / "mono.wav"), "has 1 channel: I/Q needs two"},
		{"-r 0 -f 504000 " + q(dir / "odd.cs16"), "out of range"},
		{"-F cs16 -r 62500 -f 10000000 " + q(dir / "odd.cs16"), "holds no NAVTEX frequency (490, 518 or 4209.5 kHz): centred at 10000.0 kHz it covers 9971.9 to 10028.1 kHz"},
		{q(dir / "cut.wav"), "truncated"},
		{"-F cs16 -r 62500 -f 504000 " + q(dir / "odd.cs16"), "truncated"},
		{"-c 518=600000 " + q(dir / "good.wav"), "outside the capture, which covers 475.9 to 532.1 kHz"},
		{q(dir / "x.sigmf-meta"), "unsupported datatype \"ci32_le\""},
		{"-F cu9 -r 62500 -f 504000 " + q(dir / "odd.cs16"), "unknown sample format"},
		{"-r 62500 -" , "centre frequency of standard input is unknown"},
	};
	for (const bad &b : cases) {
		std::string said = run(bin + " -o " + q(out) + " " + b.args + " </dev/null", st);
		EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0) << b.args << ": " << said;
		EXPECT_NE(said.find("navsdr: "), std::string::npos) << b.args << ": " << said;
		EXPECT_NE(said.find(b.says), std::string::npos) << b.args << ": " << said;
		EXPECT_FALSE(fs::exists(out)) << b.args;
	}
	for (const std::string &n : dir.names())
		EXPECT_EQ(n.find("out.raw"), std::string::npos) << n;
}
