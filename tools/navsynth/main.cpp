// navsynth: writes a NAVTEX recording in the device's sample stream.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "iq_output.h"
#include "navsynth.h"
#include "number_arg.h"

#ifdef NAVSYNTH_AUDIO
#include <sndfile.h>
#endif

namespace {

const char kUsage[] =
	"usage: navsynth [options] -o recording\n"
	"       navsynth [options] -W audio-file\n"
	"       navsynth [options] -Q iq-file [-F format] [-r rate] [-f centre]\n"
	"Writes NAVTEX transmissions as the radio device's sample stream, or as a\n"
	"receiver's audio output.\n"
	"  -o file   output recording ('-' for standard output)\n"
	"  -W file   audio output of the one channel that has messages (.wav,\n"
	"            .flac, .ogg, .aiff or .au; 16-bit, Vorbis for .ogg)\n"
	"  -A hz     audio sample rate (default 48000)\n"
	"  -T hz     audio frequency midway between the two tones (default 1000)\n"
	"  -L        lower sideband: the 1 bit on the lower tone\n"
	"  -Q file   an SDR's wideband I/Q ('-' for standard output; .wav: a\n"
	"            two-channel WAV with the centre in its auxi chunk), each\n"
	"            channel with messages at its frequency (490, 518, 4209.5,\n"
	"            424 kHz), noise across the band.  After -Q, -F gives the\n"
	"            sample format (cu8, cs8, cs16 or cf32; default cu8, a WAV\n"
	"            cs16 or cf32), -r the I/Q rate (default 2048000) and -f the\n"
	"            centre frequency in Hz (default 504000)\n"
	"  -c n      number of channels, 1 to 4 (default 3)\n"
	"  -r rate   frames per second (default 1707.65, the board's rate)\n"
	"  -s seed   random seed (default 1)\n"
	"  -p sec    phasing before each transmission (default 5)\n"
	"  -e sec    idle signal closing each transmission (default 2)\n"
	"  -g sec    noise before, between and after transmissions (default 1)\n"
	"  -j        send all messages of a channel as one transmission\n"
	"Per channel, applying to the channel last chosen with -k (default 0):\n"
	"  -k ch     choose channel ch (0 to count-1)\n"
	"  -m file   message file; each message ending in a line NNNN is one\n"
	"            transmission\n"
	"  -t text   message text given on the command line\n"
	"  -a amp    tone amplitude in sample units (default 785)\n"
	"  -n snr    signal-to-noise ratio in dB in a 500 Hz band (default clean)\n"
	"  -f hz     carrier frequency offset (default 0)\n"
	"  -b ppm    bit-rate error in parts per million (default 0)\n"
	"  -F hz     Rayleigh fading with this Doppler spread (default none)\n"
	"  -N sigma  noise deviation of a channel without messages (default 20)\n";

[[noreturn]] void fail(const std::string &msg)
{
	fprintf(stderr, "navsynth: %s\n", msg.c_str());
	exit(1);
}

// Removes a partial output, never a device or pipe.
void remove_partial(const std::string &path)
{
	struct stat st;
	if (path != "-" && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
		unlink(path.c_str());
}

#ifdef NAVSYNTH_AUDIO
bool audio_format(const std::string &path, int &format)
{
	const size_t dot = path.rfind('.');
	std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
	for (char &c : ext)
		c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
	if (ext == "wav")
		format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
	else if (ext == "flac")
		format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
	else if (ext == "ogg" || ext == "oga")
		format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
	else if (ext == "aiff" || ext == "aif")
		format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
	else if (ext == "au")
		format = SF_FORMAT_AU | SF_FORMAT_PCM_16;
	else
		return false;
	return true;
}
#endif

// The audio output carries one channel: the one with messages.
void write_audio(const navsynth::Config &cfg, const navsynth::AudioConfig &audio, const std::string &path)
{
#ifndef NAVSYNTH_AUDIO
	(void)cfg;
	(void)audio;
	fail("cannot write " + path + ": this navsynth was built without audio output (libsndfile)");
#else
	int format = 0;
	if (!audio_format(path, format))
		fail("cannot tell the audio format of " + path + " from its name (use .wav, .flac, .ogg, .aiff or .au)");
	int ch = -1;
	for (int k = 0; k < cfg.channels; k++) {
		if (cfg.chan[k].transmissions.empty())
			continue;
		if (ch >= 0)
			fail("audio output carries one channel, but channels " + std::to_string(ch) + " and " +
			     std::to_string(k) + " have messages");
		ch = k;
	}
	std::vector<float> samples;
	std::string err = navsynth::render_audio(cfg, ch < 0 ? 0 : ch, audio, samples);
	if (!err.empty())
		fail(err);
	SF_INFO info{};
	info.samplerate = static_cast<int>(std::lround(audio.rate));
	info.channels = 1;
	info.format = format;
	SNDFILE *sf = sf_open(path.c_str(), SFM_WRITE, &info);
	if (!sf)
		fail("cannot create " + path + ": " + sf_strerror(nullptr));
	sf_command(sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
	const sf_count_t n = static_cast<sf_count_t>(samples.size());
	if (sf_writef_float(sf, samples.data(), n) != n) {
		err = sf_strerror(sf);
		sf_close(sf);
		remove_partial(path);
		fail("cannot write " + path + ": " + err);
	}
	if (sf_close(sf) != 0) {
		remove_partial(path);
		fail("cannot write " + path);
	}
	fprintf(stderr, "navsynth: %zu audio samples (%.1f s at %g Hz), tones %g and %g Hz, %s sideband\n",
		samples.size(), samples.size() / audio.rate, audio.rate, audio.centre_hz - 85,
		audio.centre_hz + 85, audio.lower ? "lower" : "upper");
#endif
}


} // namespace

int main(int argc, char **argv)
{
	navsynth::Config cfg;
	cfg.chan.resize(4);
	std::string output, audio_out, iq_out;
	navsynth::WidebandConfig wb;
	iq_format::Format iq_fmt = iq_format::Format::cu8;
	navsynth::AudioConfig audio;
	bool join = false;
	int sel = 0;
	std::string texts[4];
	bool have_text[4] = {false, false, false, false};

	int opt;
	while ((opt = getopt(argc, argv, "o:c:r:s:p:e:g:jk:m:t:a:n:f:b:F:N:W:A:T:LQ:h")) != -1) {
		double v = 0;
		auto num = [&](const char *what) {
			if (!to_double(optarg, v))
				fail(std::string("bad number for -") + what + ": '" + optarg + "'");
			return v;
		};
		switch (opt) {
		case 'o': output = optarg; break;
		case 'c':
			num("c");
			if (v != std::floor(v) || v < 1 || v > 4)
				fail("the channel count must be 1 to 4");
			cfg.channels = static_cast<int>(v);
			break;
		case 'Q': iq_out = optarg; break;
		case 'r':
			num("r");
			if (!iq_out.empty()) {
				if (v < 8000 || v > 20e6)
					fail("the I/Q rate (-r after -Q) must be 8000 to 20000000 samples per second");
				wb.rate = v;
				break;
			}
			if (v < 100 || v > 100000)
				fail("the rate must be 100 to 100000 frames per second");
			cfg.rate = v;
			break;
		case 's':
			num("s");
			if (v < 0 || v != std::floor(v))
				fail("the seed must be a whole number of 0 or more");
			cfg.seed = static_cast<uint64_t>(v);
			break;
		case 'p':
			cfg.phasing_s = num("p");
			if (cfg.phasing_s < 0 || cfg.phasing_s > 3600)
				fail("the phasing length must be 0 to 3600 seconds");
			break;
		case 'e':
			cfg.idle_s = num("e");
			if (cfg.idle_s < 0 || cfg.idle_s > 3600)
				fail("the idle length must be 0 to 3600 seconds");
			break;
		case 'g':
			cfg.gap_s = num("g");
			if (cfg.gap_s < 0 || cfg.gap_s > 3600)
				fail("the gap must be 0 to 3600 seconds");
			break;
		case 'j': join = true; break;
		case 'k':
			num("k");
			if (v != std::floor(v) || v < 0 || v > 3)
				fail("the channel must be 0 to 3");
			sel = static_cast<int>(v);
			break;
		case 'm': {
			std::ifstream f(optarg, std::ios::binary);
			if (!f)
				fail(std::string("cannot read message file ") + optarg + ": " + strerror(errno));
			std::ostringstream ss;
			ss << f.rdbuf();
			texts[sel] += ss.str();
			have_text[sel] = true;
			break;
		}
		case 't':
			texts[sel] += optarg;
			if (!texts[sel].empty() && texts[sel].back() != '\n')
				texts[sel] += '\n';
			have_text[sel] = true;
			break;
		case 'a':
			cfg.chan[sel].amplitude = num("a");
			if (v < 0 || v > 16000)
				fail("the amplitude must be 0 to 16000");
			break;
		case 'n': cfg.chan[sel].snr_db = num("n"); break;
		case 'f':
			if (!iq_out.empty()) {
				wb.centre_hz = num("f");
				if (v <= 0 || v >= 1e10)
					fail("the centre frequency (-f after -Q) must be above 0 Hz");
				break;
			}
			cfg.chan[sel].offset_hz = num("f");
			if (std::fabs(v) > 400)
				fail("the frequency offset must be within +-400 Hz");
			break;
		case 'b':
			cfg.chan[sel].ppm = num("b");
			if (std::fabs(v) > 100000)
				fail("the bit-rate error must be within +-100000 ppm");
			break;
		case 'F':
			if (!iq_out.empty()) {
				if (!iq_format::parse(optarg, iq_fmt))
					fail(std::string("unknown I/Q format '") + optarg + "' (cu8, cs8, cs16 or cf32)");
				break;
			}
			cfg.chan[sel].fading_hz = num("F");
			if (v < 0 || v > 100)
				fail("the fading spread must be 0 to 100 Hz");
			break;
		case 'N':
			cfg.chan[sel].noise_only_sigma = num("N");
			if (v < 0 || v > 16000)
				fail("the noise deviation must be 0 to 16000");
			break;
		case 'W': audio_out = optarg; break;
		case 'A':
			num("A");
			if (v < 4000 || v > 768000)
				fail("the audio rate must be 4000 to 768000 samples per second");
			audio.rate = std::round(v);
			break;
		case 'T': audio.centre_hz = num("T"); break;
		case 'L': audio.lower = true; break;
		case 'h':
			fputs(kUsage, stdout);
			return 0;
		default:
			fputs(kUsage, stderr);
			return 2;
		}
	}
	if (optind < argc)
		fail(std::string("unexpected argument '") + argv[optind] + "' (see -h)");
	if (output.empty() && audio_out.empty() && iq_out.empty()) {
		fputs(kUsage, stderr);
		fail("no output file given (-o, -W or -Q)");
	}
	for (int ch = 0; ch < 4; ch++) {
		if (have_text[ch] && ch >= cfg.channels)
			fail("messages given for channel " + std::to_string(ch) + " but only " +
			     std::to_string(cfg.channels) + " channels are written");
		if (!have_text[ch])
			continue;
		if (join)
			cfg.chan[ch].transmissions = {texts[ch]};
		else
			cfg.chan[ch].transmissions = navsynth::split_messages(texts[ch]);
	}
	cfg.chan.resize(static_cast<size_t>(cfg.channels));
	// Refuse unsendable texts before the output is touched.
	for (int ch = 0; ch < cfg.channels; ch++)
		for (size_t t = 0; t < cfg.chan[ch].transmissions.size(); t++) {
			navsynth::Encoded e = navsynth::encode_text(cfg.chan[ch].transmissions[t]);
			if (!e.error.empty())
				fail("channel " + std::to_string(ch) + ", message " + std::to_string(t + 1) + ": " + e.error);
		}

	if (!audio_out.empty())
		write_audio(cfg, audio, audio_out);
	if (!iq_out.empty()) {
		std::string err = write_iq(cfg, wb, iq_fmt, iq_out);
		if (!err.empty())
			fail(err);
	}
	if (output.empty())
		return 0;

	FILE *out = output == "-" ? stdout : fopen(output.c_str(), "wb");
	if (!out)
		fail("cannot create " + output + ": " + strerror(errno));
	std::string err = navsynth::write_recording(cfg, out, output == "-" ? nullptr : stderr);
	if (output != "-" && fclose(out) != 0 && err.empty())
		err = std::string("write failed: ") + strerror(errno);
	if (!err.empty()) {
		remove_partial(output);
		fail(err);
	}
	return 0;
}
