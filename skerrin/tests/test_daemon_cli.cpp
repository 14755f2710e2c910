// The built daemon's command line: usage text, option echoes, refused
// values and start-up failures with their exit statuses.
#include <gtest/gtest.h>

#include "daemon_helpers.h"

#ifdef SKERRIN_BIN

namespace {

struct Cli : ::testing::Test {
	th::ScratchDir dir;
	std::string empty_rec()
	{
		std::string p = dir.file("empty.raw");
		th::write_file(p, "");
		return p;
	}
	th::RunResult run(std::vector<std::string> args)
	{
		args.insert(args.begin(), SKERRIN_BIN);
		return th::run(args, dir.path().string());
	}
};

const char *kHelpFirst = "skerrin: Saemon for decoding of NAVTEX messages... \n"
			 " -h           : Help (this text)\n";
const char *kHelpLast = " -t <start time>  : Specify file start time (sec since 1/1/1970)\n"
			" -A               : enhanced decoding: soft decisions, DX/RX combined\n";

} // namespace

TEST_F(Cli, UnknownHelpAndOOptionsPrintUsageAndExitZero)
{
	for (std::vector<std::string> args : {std::vector<std::string>{"-h"}, {"-o", "x"}, {"-z"},
					      {"-i"}, {"-f", "-q", "-i", "/nonexistent"}}) {
		th::RunResult r = run(args);
		EXPECT_EQ(r.status, 0) << args[0];
		EXPECT_NE(r.err.find(kHelpFirst), std::string::npos) << r.err;
		EXPECT_NE(r.err.find(kHelpLast), std::string::npos);
		EXPECT_EQ(th::count(r.err, "\n -"), 16);
		// Nothing was started.
		EXPECT_EQ(r.out.find("idelay"), std::string::npos);
	}
}

TEST_F(Cli, EmptyRecordingPrintsSettingsAndEmptyListing)
{
	th::RunResult r = run({"-f", "-p", "0", "-i", empty_rec()});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "idelay : 5\nidelay : 5\nidelay : 5\n"
			 "Samples ignorred 0\nStopping at sample 0\nExport_cha set to -1\n"
			 "Cha 0: dbm equation: a:12.650000 b:-0.020000 c:-77.100000\n"
			 "Cha 1: dbm equation: a:12.650000 b:-0.020000 c:-77.100000\n"
			 "Cha 2: dbm equation: a:12.650000 b:-0.020000 c:-77.100000\n"
			 "Messages waiting...\n");
}

TEST_F(Cli, ImmediateEchoes)
{
	th::RunResult r = run({"-f", "-p", "0", "-d", "1", "-c", "4", "-S", "1707", "-I", "7", "-E",
			       "99", "-x", "3", "-i", empty_rec()});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("Debug level set to 1\n"), std::string::npos);
	EXPECT_NE(r.out.find("No of chano 4\n"), std::string::npos);
	EXPECT_NE(r.out.find("Sample rate set to 1707\n"), std::string::npos);
	EXPECT_NE(r.out.find("Samples ignorred 7\nStopping at sample 99\nExport_cha set to 3\n"),
		  std::string::npos);
	EXPECT_EQ(th::count(r.out, "idelay : 5\n"), 4);
	EXPECT_NE(r.out.find("Cha 3: dbm equation"), std::string::npos);
}

TEST_F(Cli, EquationOption)
{
	th::RunResult bad = run({"-f", "-e", "1.5,2", "-i", empty_rec()});
	EXPECT_EQ(bad.status, 0);
	EXPECT_EQ(bad.out, "Error reading equation: 1.5,2\n");

	th::RunResult ok = run({"-f", "-p", "0", "-c", "2", "-e", "20,0,-100", "-i", empty_rec()});
	EXPECT_EQ(ok.status, 0) << ok.err;
	EXPECT_NE(ok.out.find("dbm equation: a:20.000000 b:0.000000 c:-100.000000,\n"),
		  std::string::npos);
	EXPECT_NE(ok.out.find("Cha 0: dbm equation: a:20.000000 b:0.000000 c:-100.000000\n"
			      "Cha 1: dbm equation: a:20.000000 b:0.000000 c:-100.000000\n"),
		  std::string::npos);
}

TEST_F(Cli, StartTimeLineOnlyWhenNonZero)
{
	th::RunResult zero = run({"-f", "-p", "0", "-t", "0", "-i", empty_rec()});
	EXPECT_EQ(zero.status, 0);
	EXPECT_EQ(zero.out.find("Start time set to"), std::string::npos);

	th::RunResult set = run({"-f", "-p", "0", "-t", "1636228800", "-i", empty_rec()});
	EXPECT_EQ(set.status, 0);
	time_t t = 1636228800;
	char when[64];
	ctime_r(&t, when);
	EXPECT_NE(set.out.find(std::string("Start time set to ") + when + "\n"), std::string::npos)
		<< set.out;
}

TEST_F(Cli, MissingInputExitsWithErrno)
{
	th::RunResult r = run({"-f", "-p", "0", "-i", dir.file("nope.raw")});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "main: Error opening file: " + dir.file("nope.raw") +
				 " : No such file or directory\n\n");
}

TEST_F(Cli, UnreadableInputIsAnError)
{
	// A folder opens but cannot be read: no silent end as if it were empty.
	th::RunResult r = run({"-f", "-p", "0", "-i", dir.path().string()});
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.err.find("decode_i_q_sig: Error reading input: Is a directory\n"),
		  std::string::npos) << r.err;
	EXPECT_NE(r.err.find("main: decoding file: " + dir.path().string() + " returned -1"),
		  std::string::npos) << r.err;
}

TEST_F(Cli, UnopenableCopyFileExitsWithErrno)
{
	th::RunResult r = run({"-f", "-p", "0", "-i", empty_rec(), "-C", dir.file("no/such/dir")});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "main: Error opening file: " + dir.file("no/such/dir") + "\n\n");
}

TEST_F(Cli, ChannelCountOutsideZeroToFourRefused)
{
	for (const char *n : {"5", "-1", "100"}) {
		th::RunResult r = run({"-f", "-p", "0", "-c", n, "-i", empty_rec()});
		EXPECT_NE(r.status, 0) << n;
		EXPECT_NE(r.err.find("main: channel count must be 0 to 4"), std::string::npos) << r.err;
		EXPECT_EQ(r.out.find("idelay"), std::string::npos);
	}
	th::RunResult none = run({"-f", "-p", "0", "-c", "0", "-i", empty_rec()});
	EXPECT_EQ(none.status, 0) << none.err;
	EXPECT_NE(none.out.find("Messages waiting...\n"), std::string::npos);
}

TEST_F(Cli, OverlongPathsRefused)
{
	std::string longp = "/" + std::string(255, 'a');
	th::RunResult in = run({"-f", "-i", longp});
	EXPECT_NE(in.status, 0);
	EXPECT_NE(in.err.find("main: input file: path longer than 255 characters refused"),
		  std::string::npos)
		<< in.err;
	th::RunResult cp = run({"-f", "-i", empty_rec(), "-C", longp});
	EXPECT_NE(cp.status, 0);
	EXPECT_NE(cp.err.find("main: copy file: path longer than 255 characters refused"),
		  std::string::npos);
	// 255 characters are still taken (and then not found).
	th::RunResult edge = run({"-f", "-p", "0", "-i", longp.substr(0, 255)});
	EXPECT_EQ(edge.status, 2) << edge.err;
}

TEST_F(Cli, NegativeCountsAndDelaysRefused)
{
	th::RunResult delay = run({"-f", "-p", "0", "-s", "-3", "-i", empty_rec()});
	EXPECT_NE(delay.status, 0);
	EXPECT_NE(delay.err.find("main: negative delay refused: -3"), std::string::npos) << delay.err;
	// Frame numbers take the counter's whole range, nothing outside it;
	// -E -1 is the same as no stop.
	for (const char *v : {"-3", "4294967296"}) {
		th::RunResult ign = run({"-f", "-p", "0", "-I", v, "-i", empty_rec()});
		EXPECT_NE(ign.status, 0) << v;
		EXPECT_NE(ign.err.find(std::string("main: ignore count out of range: ") + v),
			  std::string::npos) << ign.err;
		th::RunResult stop = run({"-f", "-p", "0", "-E", v, "-i", empty_rec()});
		EXPECT_NE(stop.status, 0) << v;
		EXPECT_NE(stop.err.find(std::string("main: stop sample out of range: ") + v),
			  std::string::npos) << stop.err;
	}
	th::RunResult big = run({"-f", "-p", "0", "-I", "3000000000", "-E", "4294967295", "-i",
				 empty_rec()});
	EXPECT_EQ(big.status, 0) << big.err;
	EXPECT_NE(big.out.find("Samples ignorred 3000000000\nStopping at sample 4294967295\n"),
		  std::string::npos) << big.out;
	th::RunResult none = run({"-f", "-p", "0", "-E", "-1", "-i", empty_rec()});
	EXPECT_EQ(none.status, 0) << none.err;
	EXPECT_NE(none.out.find("Stopping at sample 0\n"), std::string::npos) << none.out;
	th::RunResult port = run({"-f", "-p", "70000", "-i", empty_rec()});
	EXPECT_NE(port.status, 0);
	EXPECT_NE(port.err.find("main: port outside 0..65535 refused"), std::string::npos);
}

TEST_F(Cli, UnconvertedNumbersLeaveDefaults)
{
	th::RunResult r = run({"-f", "-p", "0", "-d", "x", "-c", "y", "-I", "z", "-x", "w", "-i",
			       empty_rec()});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("Debug level set to 0\n"), std::string::npos);
	EXPECT_NE(r.out.find("No of chano 3\n"), std::string::npos);
	EXPECT_NE(r.out.find("Samples ignorred 0\n"), std::string::npos);
	EXPECT_NE(r.out.find("Export_cha set to -1\n"), std::string::npos);
}

TEST_F(Cli, DetachedDaemonGoesOnAndPrintsOnce)
{
	// Without -f the starter returns at once; the detached child decodes,
	// with everything printed before the split written only once.
	th::Background d({SKERRIN_BIN, "-p", "0", "-i", empty_rec()}, dir.path().string());
	ASSERT_TRUE(d.started());
	EXPECT_EQ(d.wait(std::chrono::seconds(30)), 0);
	std::string out;
	// The detached child writes on after the starter ended: wait for it.
	auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	while (out.find("Messages waiting...") == std::string::npos &&
	       std::chrono::steady_clock::now() < end) {
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
		out = d.out();
	}
	EXPECT_NE(out.find("Messages waiting...\n"), std::string::npos);
	EXPECT_EQ(th::count(out, "idelay : 5\n"), 3) << out;
	EXPECT_EQ(th::count(out, "Export_cha set to -1\n"), 1);
}

#endif
