// The built daemon decoding small generated recordings: frame numbering,
// ignore count, stop sample, copy and export files, status lines, the exit
// listing, and off-air recordings when they are present.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "daemon_helpers.h"

#ifdef SKERRIN_BIN

namespace {

struct Run : ::testing::Test {
	th::ScratchDir dir;
	std::string rec(int frames, int nch = 3)
	{
		std::string p = dir.file("rec" + std::to_string(frames) + "_" + std::to_string(nch) + ".raw");
		th::write_file(p, th::make_recording(frames, nch, th::ramp));
		return p;
	}
	th::RunResult run(std::vector<std::string> args)
	{
		args.insert(args.begin(), {SKERRIN_BIN, "-f", "-p", "0"});
		return th::run(args, dir.path().string());
	}
	size_t size(const std::string &p)
	{
		struct stat st {};
		return stat(p.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
	}
};

} // namespace

TEST_F(Run, OneBlockIsFramesOneTo128)
{
	// Frame 128 is the last: a stop at 128 never triggers, at 127 it does.
	th::RunResult all = run({"-E", "128", "-i", rec(128)});
	EXPECT_EQ(all.status, 0);
	EXPECT_EQ(all.out.find("Reaced"), std::string::npos);
	th::RunResult one = run({"-E", "127", "-i", rec(128)});
	EXPECT_EQ(one.status, 0);
	EXPECT_EQ(th::count(one.out, "Reaced stop sample"), 1);
	EXPECT_NE(one.out.find("Reaced stop sample 127 , 128\n"), std::string::npos);
}

TEST_F(Run, StopSampleDropsLaterBlocksOneLineEach)
{
	std::string x = dir.file("x.raw");
	th::RunResult r = run({"-E", "100", "-C", x, "-x", "0", "-i", rec(384)});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("Reaced stop sample 100 , 101\nReaced stop sample 100 , 102\n"
			     "Reaced stop sample 100 , 103\nMessages waiting...\n"),
		  std::string::npos)
		<< r.out;
	// Frames 1 to 100 were decoded, each exported once.
	EXPECT_EQ(size(x), 100u * 12);
}

TEST_F(Run, IgnoreCountNumbersFromIt)
{
	std::string x = dir.file("x.raw");
	th::RunResult r = run({"-I", "1000", "-E", "1000", "-C", x, "-x", "2", "-i", rec(256)});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("Samples ignorred 1000\n"), std::string::npos);
	EXPECT_NE(r.out.find("Reaced stop sample 1000 , 1001\nReaced stop sample 1000 , 1002\n"),
		  std::string::npos)
		<< r.out;
	EXPECT_EQ(size(x), 12u);

	// Without a stop the whole input is still decoded.
	std::string x2 = dir.file("x2.raw");
	th::RunResult all = run({"-I", "1000", "-C", x2, "-x", "2", "-i", rec(256)});
	EXPECT_EQ(size(x2), 256u * 12);

	// At the top of the counter's range the count wraps to 0 and goes on,
	// so the one-second status lines come at frames 0, 1700 and 3400.
	th::RunResult top = run({"-I", "4294967295", "-d", "2", "-i", rec(3402)});
	EXPECT_EQ(top.status, 0) << top.err;
	EXPECT_EQ(th::count(top.out, "ch0 : "), 3) << top.out;
}

TEST_F(Run, CopyIsByteIdenticalAndReplacesOldContents)
{
	std::string in = rec(1000);
	std::string copy = dir.file("copy.raw");
	th::RunResult r = run({"-C", copy, "-i", in});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(th::read_file(copy) == th::read_file(in)) << "contents differ";
	// Replaying the copy gives a copy of the copy.
	std::string copy2 = dir.file("copy2.raw");
	EXPECT_EQ(run({"-C", copy2, "-i", copy}).status, 0);
	EXPECT_TRUE(th::read_file(copy2) == th::read_file(in)) << "contents differ";
	// Over an older, longer copy: the new recording alone, down to the
	// bytes of a partial frame that arrive in a read of their own
	// (3079 bytes: two blocks and 7 more).
	std::string cut = dir.file("cut.raw");
	th::write_file(cut, th::read_file(in).substr(0, 3079));
	r = run({"-C", copy, "-i", cut});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(th::read_file(copy) == th::read_file(cut))
		<< "copy holds " << size(copy) << " bytes";
}

TEST_F(Run, CopyToAPipeWhoseReaderGoes)
{
	// Longer than the pipe holds, so writes go on after the reader left.
	std::string in = rec(20000);
	std::string fifo = dir.file("copy.fifo");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	th::Background d({SKERRIN_BIN, "-f", "-p", "0", "-C", fifo, "-i", in},
			 dir.path().string());
	ASSERT_TRUE(d.started());
	// Read and write: opening never waits for the daemon.
	int rd = open(fifo.c_str(), O_RDWR);
	ASSERT_GE(rd, 0);
	pollfd p{rd, POLLIN, 0};
	ASSERT_EQ(poll(&p, 1, 120000), 1) << "nothing copied";
	char head[100];
	EXPECT_GT(read(rd, head, sizeof(head)), 0);
	close(rd);
	EXPECT_EQ(d.wait(std::chrono::seconds(300)), 0) << d.err();
	EXPECT_NE(d.out().find("Messages waiting...\n"), std::string::npos);
	EXPECT_NE(d.err().find("decode_i_q_sig: Error writing copy file: Broken pipe\n"),
		  std::string::npos) << d.err();
}

TEST_F(Run, ExportRecordsOfOneChannel)
{
	std::string x = dir.file("x.raw");
	th::RunResult r = run({"-C", x, "-x", "1", "-i", rec(500)});
	EXPECT_EQ(r.status, 0) << r.err;
	std::string e = th::read_file(x);
	ASSERT_EQ(e.size(), 500u * 12);
	const auto *p = reinterpret_cast<const unsigned char *>(e.data());
	for (int f = 0; f < 500; f++) {
		th::QI s = th::ramp(f, 1);
		ASSERT_EQ(stream_format::get_word(p + 12 * f), s.i) << f;
		ASSERT_EQ(stream_format::get_word(p + 12 * f + 2), s.q) << f;
	}
	// -x alone exports nothing and writes no file.
	th::RunResult nofile = run({"-x", "1", "-i", rec(500)});
	EXPECT_EQ(nofile.status, 0);
	// -x with a channel that does not exist leaves the copy file empty.
	std::string none = dir.file("none.raw");
	EXPECT_EQ(run({"-C", none, "-x", "5", "-i", rec(500)}).status, 0);
	EXPECT_EQ(size(none), 0u);
}

TEST_F(Run, StatusLinesEverySecond)
{
	th::RunResult r = run({"-d", "2", "-i", rec(3500)});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(th::count(r.out, "ch0 :   -1 , ("), 2) << r.out;
	EXPECT_EQ(th::count(r.out, "; ch1 :   -1 , ("), 2);
	EXPECT_EQ(th::count(r.out, "; ch2 :   -1 , ("), 2);
	EXPECT_EQ(r.out.find("min... "), std::string::npos);
	// Each line ends after the last channel.
	size_t p = r.out.find("ch2 : ");
	ASSERT_NE(p, std::string::npos);
	size_t nl = r.out.find('\n', p);
	EXPECT_EQ(r.out.substr(nl - 2, 2), "; ");
	// Without bit 0x02 there are none.
	th::RunResult quiet = run({"-d", "4", "-i", rec(3500)});
	EXPECT_EQ(quiet.out.find("ch0 : "), std::string::npos);
}

TEST_F(Run, MinuteMark)
{
	// 102000 frames of one channel: the mark with 1 at the last frame.
	th::RunResult r = run({"-c", "1", "-d", "2", "-i", rec(102000, 1)});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(th::count(r.out, "1 min... "), 1);
	EXPECT_EQ(th::count(r.out, "ch0 : "), 60);
}

TEST_F(Run, RecordingEndingInsideAFrame)
{
	std::string p = dir.file("cut.raw");
	th::write_file(p, th::make_recording(200, 3, th::ramp) + std::string(7, '\x11'));
	std::string x = dir.file("x.raw");
	th::RunResult r = run({"-C", x, "-x", "0", "-i", p});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(size(x), 200u * 12);
	EXPECT_NE(r.err.find("input ended inside a frame: 7 bytes dropped"), std::string::npos)
		<< r.err;
}

TEST_F(Run, DebugFileLandsInWorkingDirectory)
{
	th::RunResult r = run({"-d", "64", "-i", rec(10)});
	EXPECT_EQ(r.status, 0);
	EXPECT_TRUE(std::filesystem::exists(dir.file("debug.raw")));
	EXPECT_EQ(size(dir.file("debug.raw")), 0u);
}

TEST_F(Run, OffAirWeatherBulletinEchoed)
{
	std::string p = std::string(NAVTEX_TESTDATA_DIR) + "/offair-518-weather.raw";
	if (!std::filesystem::exists(p))
		GTEST_SKIP() << "off-air recording not found at " << p;
	th::RunResult r = run({"-d", "8", "-i", p});
	EXPECT_EQ(r.status, 0);
	// Not ended by NNNN in the recording: echoed, never queued.
	EXPECT_NE(r.out.find("ZCZC EE"), std::string::npos);
	EXPECT_NE(r.out.find("MONDOLFO RADIO"), std::string::npos);
	EXPECT_NE(r.out.find("Messages waiting...\n"), std::string::npos);
	EXPECT_EQ(r.out.find("  0 Freq:"), std::string::npos);
}

#endif
