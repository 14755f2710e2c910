// navaudio: a NAVTEX receiver's audio (a recording or a live stream) as
// the radio device's sample stream, for the daemon to decode.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio_input.h"
#include "cli.h"
#include "navaudio.h"
#include "output.h"

namespace {

const char kUsage[] =
	"usage: navaudio [-o out] [-k channel] [-c hz] [-I] [-r rate -e s16] [-S fps] [-C n] input\n"
	"Turns a NAVTEX receiver's audio into the radio device's sample stream.\n"
	"  input     an audio file (WAV, FLAC, OGG/Vorbis, AIFF ...), or with -e s16\n"
	"            headerless audio; '-' reads standard input\n"
	"  -o out    output stream ('-' for standard output, default out.raw)\n"
	"  -k ch     channel that carries the signal: 0 (490 kHz), 1 (518 kHz,\n"
	"            the default) or 2 (4209 kHz); the others get low noise\n"
	"  -c hz     audio frequency midway between the two tones (default: the\n"
	"            strongest tone pair 170 Hz apart between 300 and 3000 Hz)\n"
	"  -I        lower sideband: the 1 bit is the lower tone\n"
	"  -r rate   sample rate of headerless input\n"
	"  -e s16    headerless input of signed 16-bit little-endian samples\n"
	"  -S fps    frames per second of the stream (default 1707.65, the board's)\n"
	"  -C n      channel of a multi-channel file, from 1 (default 1)\n";

// Audio is read in blocks of this many samples: about 85 ms at 48 kHz, so
// a live stream goes on without noticeable delay.
constexpr long kBlock = 4096;
// From a stream that cannot be read twice the centre is looked for in
// its first seconds.
constexpr double kStreamAnalysisSeconds = 20.0;
constexpr double kProgressFromSeconds = 60.0; // the centre search says it is looking

streamconv::Output g_out;

using streamconv::fail;
using streamconv::minutes;

// Tone pairs of several stations, on centres further apart than a
// receiver drifts: said, with where each is heard, and the windows as the
// conversion's schedule.  Empty when one centre serves the whole audio.
std::vector<navaudio::CentreWindow> several_centres(const std::vector<navaudio::CentreWindow> &w)
{
	constexpr double kApartHz = 30.0;
	double lo = 1e9, hi = -1e9;
	for (const navaudio::CentreWindow &x : w)
		if (x.found) {
			lo = std::min(lo, x.centre_hz);
			hi = std::max(hi, x.centre_hz);
		}
	if (!(hi - lo > kApartHz))
		return {};
	std::string list;
	double listed = -1e9;
	for (size_t k = 0; k < w.size(); k++) {
		if (!w[k].found || std::fabs(w[k].centre_hz - listed) <= kApartHz)
			continue;
		listed = w[k].centre_hz;
		char item[80];
		snprintf(item, sizeof item, "%s%.0f Hz from %s", list.empty() ? "" : ", ", w[k].centre_hz,
			 minutes(w[k].from_s).c_str());
		list += item;
	}
	fprintf(stderr, "navaudio: tone pairs on several centres (%s): each minute is converted with its own\n",
		list.c_str());
	return w;
}

} // namespace

int main(int argc, char **argv)
{
	std::string out_path = "out.raw", encoding;
	navaudio::Settings s;
	bool have_centre = false;
	double raw_rate = 0;
	int pick = 1;

	streamconv::set_program("navaudio", &g_out);
	int opt;
	while ((opt = getopt(argc, argv, "o:k:c:Ir:e:S:C:h")) != -1) {
		double v = 0;
		switch (opt) {
		case 'o': out_path = optarg; break;
		case 'k':
			v = streamconv::option_number('k', optarg);
			if (v != std::floor(v) || v < 0 || v >= navaudio::kChannels)
				fail("the channel (-k) must be 0, 1 or 2");
			s.channel = static_cast<int>(v);
			break;
		case 'c':
			s.centre_hz = streamconv::option_number('c', optarg);
			have_centre = true;
			break;
		case 'I': s.invert = true; break;
		case 'r': raw_rate = streamconv::option_number('r', optarg); break;
		case 'e': encoding = optarg; break;
		case 'S': s.frame_rate = streamconv::option_number('S', optarg); break;
		case 'C':
			v = streamconv::option_number('C', optarg);
			if (v != std::floor(v) || v < 1 || v > 1024)
				fail("the input channel (-C) must be 1 to 1024");
			pick = static_cast<int>(v);
			break;
		case 'h': fputs(kUsage, stdout); return 0;
		default: fputs(kUsage, stderr); return 2;
		}
	}
	const std::string in_path = streamconv::the_input(argc, argv, kUsage);
	if (!encoding.empty() && encoding != "s16")
		fail("unsupported raw encoding '" + encoding + "': only s16 (signed 16-bit little-endian)");
	if (!encoding.empty() && raw_rate == 0)
		fail("headerless input needs its sample rate (-r)");
	if (encoding.empty() && raw_rate != 0)
		fail("-r is for headerless input: add -e s16");
	if (!encoding.empty() && pick != 1)
		fail("headerless input has one channel: -C does not apply");

	std::unique_ptr<navaudio::Input> in;
	if (!encoding.empty())
		in = navaudio::open_raw_s16(in_path, raw_rate);
	else
		in = navaudio::open_sound_file(in_path, pick);
	s.in_rate = in->rate;
	{
		// Everything but an automatic centre can be checked now.
		navaudio::Settings probe = s;
		if (!have_centre)
			probe.centre_hz = std::min(1000.0, navaudio::highest_centre(s.in_rate));
		std::string err = navaudio::check(probe);
		if (!err.empty())
			fail(err);
	}
	// The output before the centre search: a live stream must not lose its
	// first seconds to find out that the output cannot be written.
	std::string oerr = g_out.open(out_path);
	if (!oerr.empty())
		fail(oerr);
	const double total_s = in->samples > 0 ? static_cast<double>(in->samples) / s.in_rate : -1;
	const std::string what =
		encoding.empty() && pick > 1 ? "channel " + std::to_string(pick) + " of " + in->name : in->name;

	// Every sample passes here: out-of-range ones are clipped (and said
	// once), the loudest is kept to tell silence.
	bool warned_range = false;
	float peak = 0;
	auto read_audio = [&](float *x, long n) {
		const long got = in->read(x, n);
		if (got <= 0)
			return got;
		if (navaudio::sanitise(x, static_cast<size_t>(got)) > 0 && !warned_range) {
			fprintf(stderr, "navaudio: warning: %s has samples beyond full scale (or not numbers): "
				"clipped\n", what.c_str());
			warned_range = true;
		}
		for (long k = 0; k < got; k++)
			peak = std::max(peak, std::fabs(x[k]));
		return got;
	};
	// At most one step of 16-bit audio: nothing to hear.
	auto silent = [&] { return peak <= 1.0f / 32768; };

	std::vector<float> block(kBlock);
	std::vector<float> held; // audio read for the centre and not yet converted
	// Centres per window of the centre search, when the audio has several.
	std::vector<navaudio::CentreWindow> schedule;
	if (!have_centre) {
		navaudio::CentreFinder finder(s.in_rate);
		const bool whole = !in->live;
		if (whole && total_s > kProgressFromSeconds)
			fprintf(stderr, "navaudio: looking for the tone centre in %s of audio\n", minutes(total_s).c_str());
		for (;;) {
			if (!whole && finder.seconds() >= kStreamAnalysisSeconds)
				break;
			long got = read_audio(block.data(), kBlock);
			if (got <= 0)
				break;
			finder.push(block.data(), static_cast<size_t>(got));
			if (!whole)
				held.insert(held.end(), block.begin(), block.begin() + got);
		}
		if (whole && !in->rewind())
			fail("cannot read " + in->name + " a second time: give the tone centre with -c");
		if (finder.seconds() == 0)
			fail(in->name + " holds no audio");
		if (silent())
			fail("the audio of " + what + " is silent: no tones to find");
		if (!finder.result(s.centre_hz))
			fail("no pair of tones 170 Hz apart stands out of the noise in " + minutes(finder.seconds()) +
			     " of " + in->name + ": give the tone centre with -c");
		fprintf(stderr, "tone centre %.0f Hz\n", s.centre_hz);
		schedule = several_centres(finder.windows());
		if (!schedule.empty())
			s.centre_hz = schedule.front().centre_hz;
	}
	std::string err = navaudio::check(s);
	if (!err.empty())
		fail(err);

	navaudio::Converter conv(s);
	if (!conv.error().empty())
		fail(conv.error());

	std::vector<unsigned char> bytes;
	long long got_total = 0;
	streamconv::Progress progress("navaudio", total_s);
	auto write = [&] {
		std::string werr = g_out.write(bytes);
		if (!werr.empty())
			fail(werr);
	};
	size_t window = 0;
	auto feed = [&](const float *x, size_t n) {
		// Each window with its own centre, from the block that starts in it.
		const double at_s = static_cast<double>(got_total) / s.in_rate;
		while (window + 1 < schedule.size() && at_s >= schedule[window + 1].from_s) {
			window++;
			conv.set_centre(schedule[window].centre_hz);
		}
		bytes.clear();
		conv.push(x, n, bytes);
		write();
		got_total += static_cast<long long>(n);
		progress.update(static_cast<double>(got_total) / s.in_rate);
	};
	for (size_t k = 0; k < held.size(); k += kBlock)
		feed(held.data() + k, std::min<size_t>(kBlock, held.size() - k));
	held.clear();
	held.shrink_to_fit();
	for (;;) {
		long got = read_audio(block.data(), kBlock);
		if (got <= 0)
			break;
		feed(block.data(), static_cast<size_t>(got));
	}
	in->check_end(got_total);
	if (got_total == 0)
		fail(in->name + " holds no audio");
	if (silent())
		fprintf(stderr, "navaudio: warning: the audio of %s is silent: the stream carries no signal\n",
			what.c_str());
	bytes.clear();
	conv.finish(bytes);
	write();
	oerr = g_out.commit();
	if (!oerr.empty())
		fail(oerr);
	fprintf(stderr, "navaudio: %s of audio at %g Hz, %llu frames at %g per second, signal on channel %d\n",
		minutes(static_cast<double>(got_total) / s.in_rate).c_str(), s.in_rate,
		static_cast<unsigned long long>(conv.frames()), s.frame_rate, s.channel);
	return 0;
}
