// Off-air check: the built daemon decodes the real 518 kHz recordings and
// its character echo (debug level 8) is compared with the text of an
// independent decoder.  That reference shows no carriage returns, shifts or
// control signals, so the echo's marks (r, s, a, b, c) and shift letters
// (l, f) are dropped before comparing; what the echo shows before the
// bulletin begins (groups decoded before the character alignment) is not
// counted.  The rest is an edit distance, in per cent of the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

#ifdef SKERRIN_BIN
const char *const kSkerrin = SKERRIN_BIN;
#else
const char *const kSkerrin = nullptr;
#endif

bool readable(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream ss;
	ss << in.rdbuf();
	return ss.str();
}

// Runs the daemon in the foreground on a recording; the server takes any
// free port (0) and the run is bounded by timeout(1).
std::string run_daemon(const std::string &recording, int &status, const char *extra = "")
{
	const std::string cmd = std::string("timeout 300 ") + kSkerrin + " -f -d 8 -p 0 " + extra + " -i '" +
				recording + "' 2>/dev/null";
	std::string out;
	FILE *p = popen(cmd.c_str(), "r");
	if (p == nullptr) {
		status = -1;
		return out;
	}
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof buf, p)) > 0)
		out.append(buf, n);
	status = pclose(p);
	return out;
}

// The echoed characters: between the start-up lines (the last one is the
// dBm equation of channel 2) and the exit listing.
std::string echoed_text(const std::string &out)
{
	size_t from = out.rfind("Cha 2: dbm equation");
	from = from == std::string::npos ? 0 : out.find('\n', from) + 1;
	size_t to = out.rfind("Messages waiting...");
	if (to == std::string::npos || to < from)
		to = out.size();
	std::string text;
	for (size_t i = from; i < to; i++) {
		const char c = out[i];
		if (std::string("rsabclf").find(c) == std::string::npos)
			text += c;
	}
	return text;
}

std::string trimmed(const std::string &s)
{
	const size_t a = s.find_first_not_of(" \n\r\t");
	if (a == std::string::npos)
		return "";
	const size_t b = s.find_last_not_of(" \n\r\t");
	return s.substr(a, b - a + 1);
}

// Fewest edits that turn the reference into some stretch of the echo.
int fitting_distance(const std::string &reference, const std::string &echo)
{
	std::vector<int> prev(echo.size() + 1, 0), cur(echo.size() + 1);
	for (size_t i = 1; i <= reference.size(); i++) {
		cur[0] = static_cast<int>(i);
		for (size_t j = 1; j <= echo.size(); j++)
			cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1,
					   prev[j - 1] + (reference[i - 1] != echo[j - 1] ? 1 : 0)});
		std::swap(prev, cur);
	}
	return *std::min_element(prev.begin(), prev.end());
}

// Plain edit distance, for the record.
int edit_distance(const std::string &a, const std::string &b)
{
	std::vector<int> prev(b.size() + 1), cur(b.size() + 1);
	for (size_t j = 0; j <= b.size(); j++)
		prev[j] = static_cast<int>(j);
	for (size_t i = 1; i <= a.size(); i++) {
		cur[0] = static_cast<int>(i);
		for (size_t j = 1; j <= b.size(); j++)
			cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] != b[j - 1] ? 1 : 0)});
		std::swap(prev, cur);
	}
	return prev[b.size()];
}

void check_recording(const std::string &name)
{
	if (kSkerrin == nullptr)
		GTEST_SKIP() << "the skerrin program is not part of this build";
	const std::string dir = NAVTEX_TESTDATA_DIR;
	const std::string raw = dir + "/" + name + ".raw";
	const std::string txt = dir + "/" + name + ".txt";
	if (!readable(raw) || !readable(txt))
		GTEST_SKIP() << "off-air recording " << raw << " or its reference text is not available";

	int status = 0;
	const std::string out = run_daemon(raw, status);
	ASSERT_EQ(status, 0) << out;
	const std::string echo = echoed_text(out);
	const std::string reference = trimmed(read_file(txt));
	ASSERT_FALSE(reference.empty());

	const int wrong = fitting_distance(reference, echo);
	const int strict = edit_distance(reference, trimmed(echo));
	const double percent = 100.0 * wrong / reference.size();
	std::printf("%s: %zu reference characters, %d wrong (%.2f %%); %d counting what precedes the text\n",
		    name.c_str(), reference.size(), wrong, percent, strict);
	EXPECT_LE(percent, 1.0) << "echo:\n" << echo;
}

// Wrong characters of the echo of one chain (extra options) on a recording;
// -1 when the recording is missing.
int wrong_characters(const std::string &name, const char *extra)
{
	const std::string dir = NAVTEX_TESTDATA_DIR;
	const std::string raw = dir + "/" + name + ".raw";
	const std::string txt = dir + "/" + name + ".txt";
	if (!readable(raw) || !readable(txt))
		return -1;
	int status = 0;
	const std::string out = run_daemon(raw, status, extra);
	EXPECT_EQ(status, 0) << out;
	return fitting_distance(trimmed(read_file(txt)), echoed_text(out));
}

// A copy of a three-channel recording with white noise added to the
// signal's channel (1): `snr_db` is the recording's own power over the
// added noise's power in 500 Hz.  Returns the copy's path, empty on failure.
std::string with_noise(const std::string &raw, double snr_db, unsigned seed)
{
	std::string rec = read_file(raw);
	const size_t frames = rec.size() / 12;
	if (frames == 0)
		return "";
	auto word = [&](size_t f, int k) -> int {
		const size_t at = f * 12 + 4 + 2 * k;
		return (uint8_t(rec[at]) | uint8_t(rec[at + 1]) << 8) & 0x7fff;
	};
	double mean[2] = {0, 0}, power = 0;
	for (size_t f = 0; f < frames; f++)
		for (int k = 0; k < 2; k++)
			mean[k] += word(f, k);
	for (int k = 0; k < 2; k++)
		mean[k] /= double(frames);
	for (size_t f = 0; f < frames; f++)
		for (int k = 0; k < 2; k++)
			power += (word(f, k) - mean[k]) * (word(f, k) - mean[k]);
	power /= double(frames);
	const double sigma = std::sqrt(power / std::pow(10, snr_db / 10) * 1707.65 / 500 / 2);
	std::mt19937 gen(seed);
	std::normal_distribution<double> noise(0, sigma);
	for (size_t f = 0; f < frames; f++)
		for (int k = 0; k < 2; k++) {
			const size_t at = f * 12 + 4 + 2 * k;
			const int v = std::clamp(word(f, k) + int(std::lround(noise(gen))), 0, 32767);
			const int mark = uint8_t(rec[at + 1]) & 0x80;
			rec[at] = char(v & 0xff);
			rec[at + 1] = char((v >> 8) | mark);
		}
	char path[] = "/tmp/offair-noise-XXXXXX";
	const int fd = mkstemp(path);
	if (fd < 0)
		return "";
	const bool ok = write(fd, rec.data(), rec.size()) == ssize_t(rec.size());
	close(fd);
	return ok ? path : "";
}

} // namespace

TEST(ChainOffAir, EnhancedChainHoldsTheWeatherBulletinWithNoiseAdded)
{
	// The bulletin with white noise at 4 dB (two noise draws) and at 3 dB
	// (two draws whose short noisy phasing once gave a bit rate the loop
	// never pulled back, 86 % wrong): the lock holds and the text is read,
	// no collapse into garbage.
	if (kSkerrin == nullptr)
		GTEST_SKIP() << "the skerrin program is not part of this build";
	const std::string dir = NAVTEX_TESTDATA_DIR;
	const std::string raw = dir + "/offair-518-weather.raw", txt = dir + "/offair-518-weather.txt";
	if (!readable(raw) || !readable(txt))
		GTEST_SKIP() << "off-air recording " << raw << " or its reference text is not available";
	const std::string reference = trimmed(read_file(txt));
	const struct {
		double snr_db;
		unsigned seed;
	} draws[] = {{4, 1}, {4, 4}, {3, 9}, {3, 10}};
	for (const auto &[snr_db, seed] : draws) {
		const std::string noisy = with_noise(raw, snr_db, seed);
		ASSERT_FALSE(noisy.empty());
		int status = 0;
		const std::string out = run_daemon(noisy, status, "-A");
		unlink(noisy.c_str());
		ASSERT_EQ(status, 0) << out;
		const double percent = 100.0 * fitting_distance(reference, echoed_text(out)) / reference.size();
		std::printf("weather at %.0f dB, noise draw %u: %.2f %% wrong with -A\n", snr_db, seed, percent);
		EXPECT_LE(percent, 3.0) << echoed_text(out);
	}
}

TEST(ChainOffAir, EnhancedChainMakesNoMoreWrongCharacters)
{
	if (kSkerrin == nullptr)
		GTEST_SKIP() << "the skerrin program is not part of this build";
	for (const char *name : {"offair-518-weather", "offair-518-sitor"}) {
		const int specified = wrong_characters(name, "");
		if (specified < 0)
			GTEST_SKIP() << "off-air recording " << name << " or its reference text is not available";
		const int enhanced = wrong_characters(name, "-A");
		std::printf("%s: %d wrong with -A, %d without\n", name, enhanced, specified);
		EXPECT_LE(enhanced, specified) << name;
	}
}

TEST(ChainOffAir, FittingDistanceCountsOnlyTheReference)
{
	EXPECT_EQ(fitting_distance("ABC", "**ABC**"), 0);
	EXPECT_EQ(fitting_distance("ABC", "xxA#Cyy"), 1);
	EXPECT_EQ(fitting_distance("ABCD", "ABD"), 1);
	EXPECT_EQ(edit_distance("*\nABC", "ABC"), 2);
	EXPECT_EQ(echoed_text("Cha 2: dbm equation: a\n*sslZCZC EEf39r\nTEXTMessages waiting...\n"),
		  "*ZCZC EE39\nTEXT");
}

TEST(ChainOffAir, WeatherBulletinEchoedWithAtMostOnePercentWrong)
{
	check_recording("offair-518-weather");
}

TEST(ChainOffAir, SitorTextEchoedWithAtMostOnePercentWrong)
{
	check_recording("offair-518-sitor");
}
