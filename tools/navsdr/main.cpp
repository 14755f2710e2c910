// navsdr: NAVTEX channels from an SDR's wideband I/Q (a recording or a
// live stream) as the radio device's sample stream, for the daemon to
// decode.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "capture.h"
#include "cli.h"
#include "iq_format.h"
#include "navsdr.h"
#include "output.h"

namespace {

const char kUsage[] =
	"usage: navsdr [-o out] [-F cu8|cs8|cs16|cf32] [-r rate] [-f centre_hz]\n"
	"              [-c 490=hz,518=hz,4209=hz] [-S fps] input|-\n"
	"Turns the NAVTEX channels of an SDR's I/Q into the radio device's sample\n"
	"stream: 490 kHz into channel 0, 518 kHz into 1, 4209.5 kHz into 2.\n"
	"  input     a two-channel WAV/RF64 I/Q file (centre from its auxi chunk\n"
	"            or its name, e.g. ..._504000Hz.wav), a SigMF recording\n"
	"            (.sigmf-meta or .sigmf-data), or headerless I/Q with -r;\n"
	"            '-' reads headerless I/Q from standard input\n"
	"  -o out    output stream ('-' for standard output, default out.raw)\n"
	"  -F fmt    headerless sample format: cu8 (rtl_sdr, the default), cs8,\n"
	"            cs16 or cf32\n"
	"  -r rate   headerless sample rate, complex samples per second\n"
	"  -f hz     centre frequency, when the file does not tell it\n"
	"  -c list   channel frequencies as the capture sees them, in Hz, for a\n"
	"            receiver off frequency or behind a converter\n"
	"  -S fps    frames per second of the stream (default 1707.65, the board's)\n";

constexpr double kStreamAnalysisSeconds = 20.0;
constexpr double kFileAnalysisSeconds = 600.0;

streamconv::Output g_out;

using streamconv::fail;
using streamconv::minutes;

bool ends_with(const std::string &s, const std::string &tail)
{
	return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ------------------------------------------------------------------ input

struct Input {
	std::string name;
	double rate = 0;
	long long samples = -1; // complex samples; -1: unknown
	bool live = false;      // a pipe or terminal: read as it comes
	virtual ~Input() = default;
	// Up to n complex samples, at *iq (the input's buffer or `buf`); 0 at
	// the end.  Failures end the program.
	virtual long read(float *buf, long n, const float **iq) = 0;
	// At the end: what is wrong with how the input ended.
	virtual void check_end(long long got) = 0;
};

struct RawInput : Input {
	streamconv::RawFile file;
	iq_format::Format fmt;
	iq_format::Decoder dec;
	std::vector<unsigned char> bytes;
	std::vector<float> ready;

	RawInput(const std::string &path, iq_format::Format f, double r) : file(path), fmt(f), dec(f)
	{
		rate = r;
		name = file.name;
		live = file.live;
		if (file.size >= 0)
			samples = file.size / static_cast<long long>(2 * iq_format::value_bytes(f));
	}
	long read(float *, long n, const float **iq) override
	{
		for (;;) {
			ready.clear();
			bytes.resize(static_cast<size_t>(n) * 2 * iq_format::value_bytes(fmt));
			const size_t got = file.read(bytes.data(), bytes.size());
			if (got == 0)
				return 0;
			dec.decode(bytes.data(), got, ready);
			if (ready.empty())
				continue; // a piece of one sample so far
			*iq = ready.data();
			return static_cast<long>(ready.size() / 2);
		}
	}
	void check_end(long long) override
	{
		if (dec.dangling() == 0)
			return;
		if (live)
			fprintf(stderr, "navsdr: %s ended in the middle of a sample; its last %zu bytes are left out\n",
				name.c_str(), dec.dangling());
		else
			fail(name + " ends in the middle of a sample: the file is truncated or not in the format given");
	}
};

struct WavInput : Input {
	SNDFILE *sf = nullptr;
	SF_INFO info{};
	bool shorter_than_header = false;
	bool floats = false;

	explicit WavInput(const std::string &path)
	{
		name = path;
		sf = sf_open(path.c_str(), SFM_READ, &info);
		if (!sf)
			fail("cannot read " + path + ": " + sf_strerror(nullptr) +
			     " (headerless I/Q needs its format and rate: -F and -r)");
		if (info.channels != 2)
			fail(path + " has " + std::to_string(info.channels) + " channel" + (info.channels == 1 ? "" : "s") +
			     ": I/Q needs two (I and Q)");
		rate = info.samplerate;
		const int sub = info.format & SF_FORMAT_SUBMASK;
		floats = sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
		// libsndfile reads a file cut short (a recorder that died) as far
		// as it goes; its log tells when the header promised more.
		char log[4096] = "";
		sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
		shorter_than_header = strstr(log, "(should be") != nullptr;
		if (info.seekable && info.frames > 0 && info.frames < (1LL << 50))
			samples = info.frames;
	}
	~WavInput() override
	{
		if (sf)
			sf_close(sf);
	}
	long read(float *buf, long n, const float **data) override
	{
		float *iq = buf;
		*data = buf;
		const sf_count_t got = sf_readf_float(sf, iq, n);
		if (got < n && sf_error(sf) != SF_ERR_NO_ERROR)
			fail("cannot decode " + name + ": " + sf_strerror(sf));
		// A float file may hold anything: a NaN or an infinity would
		// poison the filters for good.
		if (floats)
			for (sf_count_t k = 0; k < 2 * got; k++)
				if (!std::isfinite(iq[k]))
					iq[k] = 0.0f;
		return static_cast<long>(got);
	}
	void check_end(long long got) override
	{
		if ((samples > 0 && got < samples) || shorter_than_header)
			fail(name + " is shorter than its header says (" + minutes(static_cast<double>(got) / rate) +
			     " present): the file is truncated or damaged");
	}
};

std::string read_text(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	if (!f)
		fail("cannot read " + path + ": " + strerror(errno));
	std::ostringstream ss;
	ss << f.rdbuf();
	return ss.str();
}

} // namespace

int main(int argc, char **argv)
{
	std::string out_path = "out.raw", format_name, channels;
	navsdr::Settings s;
	double raw_rate = 0, given_centre = 0;
	bool have_centre = false, have_rate = false;

	streamconv::set_program("navsdr", &g_out);
	int opt;
	while ((opt = getopt(argc, argv, "o:F:r:f:c:S:h")) != -1) {
		switch (opt) {
		case 'o': out_path = optarg; break;
		case 'F': format_name = optarg; break;
		case 'r':
			raw_rate = streamconv::option_number('r', optarg);
			have_rate = true;
			break;
		case 'f':
			given_centre = streamconv::option_number('f', optarg);
			have_centre = true;
			break;
		case 'c': channels += std::string(channels.empty() ? "" : ",") + optarg; break;
		case 'S': s.frame_rate = streamconv::option_number('S', optarg); break;
		case 'h': fputs(kUsage, stdout); return 0;
		default: fputs(kUsage, stderr); return 2;
		}
	}
	const std::string in_path = streamconv::the_input(argc, argv, kUsage);
	iq_format::Format fmt = iq_format::Format::cu8;
	if (!format_name.empty() && !iq_format::parse(format_name, fmt))
		fail("unknown sample format '" + format_name + "' for -F: cu8, cs8, cs16 or cf32");
	if (!channels.empty()) {
		const std::string err = navsdr::parse_channel_list(channels, s);
		if (!err.empty())
			fail(err);
	}

	// The input and what it tells of itself.
	std::unique_ptr<Input> in;
	double meta_centre = 0;
	std::string meta_from;
	if (ends_with(in_path, ".sigmf-meta") || ends_with(in_path, ".sigmf-data") || ends_with(in_path, ".sigmf")) {
		if (!format_name.empty() || have_rate)
			fail("a SigMF recording tells its format and rate: -F and -r do not apply");
		const std::string base = in_path.substr(0, in_path.rfind(".sigmf"));
		navsdr::Sigmf meta;
		std::string err = navsdr::parse_sigmf(read_text(base + ".sigmf-meta"), meta);
		if (!err.empty())
			fail(base + ".sigmf-meta: " + err);
		in = std::make_unique<RawInput>(base + ".sigmf-data", meta.format, meta.rate);
		if (meta.have_centre) {
			meta_centre = meta.centre_hz;
			meta_from = "its SigMF capture";
		}
	} else if (in_path == "-" || !format_name.empty() || have_rate) {
		if (!have_rate)
			fail("headerless I/Q needs its sample rate (-r)");
		in = std::make_unique<RawInput>(in_path, fmt, raw_rate);
	} else {
		auto wav = std::make_unique<WavInput>(in_path);
		if (navsdr::centre_from_sound_file(wav->sf, meta_centre))
			meta_from = "its auxi chunk";
		in = std::move(wav);
	}
	s.in_rate = in->rate;
	double name_centre = 0;
	if (!meta_from.empty()) {
		s.centre_hz = meta_centre;
	} else if (in_path != "-" && navsdr::centre_from_name(in_path, name_centre)) {
		s.centre_hz = name_centre;
		meta_from = "its name";
	} else if (have_centre) {
		s.centre_hz = given_centre;
	} else {
		fail("the centre frequency of " + in->name + " is unknown: give it with -f (Hz)");
	}
	if (!meta_from.empty()) {
		fprintf(stderr, "navsdr: centre %.0f Hz from %s", s.centre_hz, meta_from.c_str());
		if (have_centre && given_centre != s.centre_hz)
			fprintf(stderr, " (-f %.0f not used)", given_centre);
		fputc('\n', stderr);
	}
	std::string err = navsdr::check(s);
	if (!err.empty())
		fail(err);
	fprintf(stderr, "navsdr: %.0f samples per second centred at %.1f kHz cover %s\n", s.in_rate, s.centre_hz / 1000,
		navsdr::band_text(s).c_str());

	const double analysis_s = in->live ? kStreamAnalysisSeconds : kFileAnalysisSeconds;
	navsdr::Converter conv(s, analysis_s);
	if (!conv.error().empty())
		fail(conv.error());
	err = g_out.open(out_path);
	if (!err.empty())
		fail(err);

	const double total_s = in->samples > 0 ? static_cast<double>(in->samples) / s.in_rate : -1;
	streamconv::Progress progress("navsdr", total_s);
	const long block = std::clamp(static_cast<long>(s.in_rate / 20), 4096L, 131072L);
	std::vector<float> iq(2 * static_cast<size_t>(block));
	std::vector<unsigned char> bytes;
	long long got_total = 0;
	bool told = false;
	auto tell = [&] {
		if (told || !conv.decided())
			return;
		told = true;
		const auto rep = conv.report();
		for (int k = 0; k < navsdr::kSlots; k++) {
			const navsdr::ChannelReport &r = rep[static_cast<size_t>(k)];
			const double nominal = navsdr::kNominalHz[k];
			fprintf(stderr, "channel %d (%g kHz): ", k, nominal / 1000);
			const double base = s.chan_hz[static_cast<size_t>(k)];
			if (!r.inside)
				fprintf(stderr, "not in the capture (%s); its slot carries noise\n",
					navsdr::band_text(s).c_str());
			else if (r.found)
				fprintf(stderr, "found, tone centre %.1f Hz (%+.1f Hz)\n", r.tone_hz, r.tone_hz - base);
			else
				fprintf(stderr, "in the capture, but no signal found in its first %s; converted at %.1f Hz\n",
					minutes(std::min(analysis_s, static_cast<double>(got_total) / s.in_rate)).c_str(),
					r.tone_hz);
		}
	};
	auto write = [&] {
		err = g_out.write(bytes);
		if (!err.empty())
			fail(err);
	};
	for (;;) {
		const float *data = nullptr;
		const long got = in->read(iq.data(), block, &data);
		if (got <= 0)
			break;
		bytes.clear();
		conv.push(data, static_cast<size_t>(got), bytes);
		got_total += got;
		tell();
		write();
		progress.update(static_cast<double>(got_total) / s.in_rate);
	}
	in->check_end(got_total);
	if (got_total == 0)
		fail(in->name + " holds no I/Q samples");
	bytes.clear();
	conv.finish(bytes);
	tell();
	write();
	err = g_out.commit();
	if (!err.empty())
		fail(err);
	fprintf(stderr, "navsdr: %s of I/Q at %.0f samples per second, %llu frames at %g per second\n",
		minutes(static_cast<double>(got_total) / s.in_rate).c_str(), s.in_rate,
		static_cast<unsigned long long>(conv.frames()), s.frame_rate);
	return 0;
}
