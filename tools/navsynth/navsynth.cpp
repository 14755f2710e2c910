// NAVTEX transmitter model; see navsynth.h for what it takes and gives.
#include "navsynth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "stream_format.h"

namespace navsynth {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kShiftHz = 85.0;   // each tone's distance from the centre
constexpr double kNoiseBandHz = 500.0;

// Code points written in the order the units are sent.
Code make(const char *units)
{
	uint8_t b = 0;
	for (int j = 0; j < 7; j++)
		if (units[j] == '1')
			b |= static_cast<uint8_t>(1u << j);
	return Code{b};
}

struct Letter {
	char letter;
	char figure; // 0: none usable in figures case
	const char *units;
};

const Letter kLetters[] = {
	{'A', '-', "1110001"}, {'B', '?', "0100111"}, {'C', ':', "1011100"},
	{'D', 0, "1100101"},   {'E', '3', "0110101"}, {'F', 0, "1101100"},
	{'G', 0, "1010110"},   {'H', 0, "1001011"},   {'I', '8', "1011001"},
	{'J', 0, "1110100"},   {'K', '(', "0111100"}, {'L', ')', "1010011"},
	{'M', '.', "1001110"}, {'N', ',', "1001101"}, {'O', '9', "1000111"},
	{'P', '0', "1011010"}, {'Q', '1', "0111010"}, {'R', '4', "1010101"},
	{'S', '`', "1101001"}, {'T', '5', "0010111"}, {'U', '7', "0111001"},
	{'V', '=', "0011110"}, {'W', '2', "1110010"}, {'X', '/', "0101110"},
	{'Y', '6', "1101010"}, {'Z', '+', "1100011"},
};

const Code kCr = make("0001111");
const Code kLf = make("0011011");
const Code kSpace = make("0011101");

} // namespace

Code code_letters() { return make("0101101"); }
Code code_figures() { return make("0110110"); }
Code code_alpha() { return make("1111000"); }
Code code_beta() { return make("1100110"); }
Code code_rq() { return make("0110011"); }

Encoded encode_text(const std::string &text)
{
	Encoded e;
	Case cur = Case::letters;
	auto shift_to = [&](Case want) {
		if (cur != want) {
			e.codes.push_back(want == Case::letters ? code_letters() : code_figures());
			cur = want;
		}
	};
	for (size_t pos = 0; pos < text.size(); pos++) {
		char c = text[pos];
		if (c == '\r')
			continue; // a newline already brings its carriage return
		if (c == '\n') {
			e.codes.push_back(kCr);
			e.codes.push_back(kLf);
			continue;
		}
		if (c == ' ') {
			e.codes.push_back(kSpace);
			continue;
		}
		if (c >= 'a' && c <= 'z')
			c = static_cast<char>(c - 'a' + 'A');
		if (c == '\'')
			c = '`';
		const Letter *hit = nullptr;
		bool figure = false;
		for (const Letter &l : kLetters) {
			if (l.letter == c) {
				hit = &l;
				break;
			}
			if (l.figure == c) {
				hit = &l;
				figure = true;
				break;
			}
		}
		if (!hit) {
			e.codes.clear();
			e.error = "cannot send character ";
			if (static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) < 127)
				e.error += std::string("'") + c + "'";
			else
				e.error += "code " + std::to_string(static_cast<unsigned char>(c));
			e.error += " at offset " + std::to_string(pos);
			return e;
		}
		shift_to(figure ? Case::figures : Case::letters);
		e.codes.push_back(make(hit->units));
	}
	return e;
}

std::vector<Code> interleave(const std::vector<Code> &text, int phasing, int idle)
{
	// DX stream: phasing signal 1, the text, then alpha.
	std::vector<Code> dx;
	dx.insert(dx.end(), static_cast<size_t>(std::max(phasing, 0)), code_rq());
	dx.insert(dx.end(), text.begin(), text.end());
	dx.insert(dx.end(), static_cast<size_t>(std::max(idle, 0)), code_alpha());
	// Each RX slot repeats the DX character sent five slots earlier, the
	// one two pairs back; during phasing and before the first repetition
	// it carries phasing signal 2 (alpha).  Two more pairs at the end let
	// the last repetitions out.
	std::vector<Code> out;
	size_t pairs = dx.size() + 2;
	out.reserve(pairs * 2);
	for (size_t m = 0; m < pairs; m++) {
		out.push_back(m < dx.size() ? dx[m] : code_alpha());
		size_t back = m >= 2 ? m - 2 : 0;
		bool repeat = m >= 2 && back >= static_cast<size_t>(std::max(phasing, 0)) && back < dx.size();
		out.push_back(repeat ? dx[back] : code_alpha());
	}
	return out;
}

std::vector<std::string> split_messages(const std::string &file_text)
{
	std::vector<std::string> out;
	std::string cur;
	size_t start = 0;
	while (start < file_text.size()) {
		size_t nl = file_text.find('\n', start);
		size_t end = nl == std::string::npos ? file_text.size() : nl + 1;
		std::string line = file_text.substr(start, end - start);
		cur += line;
		std::string bare = line;
		while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r' || bare.back() == ' '))
			bare.pop_back();
		if (bare == "NNNN") {
			if (cur.back() != '\n')
				cur += '\n';
			out.push_back(cur);
			cur.clear();
		}
		start = end;
	}
	if (cur.find_first_not_of(" \r\n\t") != std::string::npos)
		out.push_back(cur);
	return out;
}

Gauss::Gauss(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}

double Gauss::uniform()
{
	// splitmix64: small, fast, and identical on every platform.
	uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
	z ^= z >> 31;
	return (static_cast<double>(z >> 11) + 0.5) / 9007199254740992.0;
}

double Gauss::next()
{
	if (have_spare_) {
		have_spare_ = false;
		return spare_;
	}
	double u1 = uniform(), u2 = uniform();
	double r = std::sqrt(-2.0 * std::log(u1));
	spare_ = r * std::sin(2 * kPi * u2);
	have_spare_ = true;
	return r * std::cos(2 * kPi * u2);
}

std::string render_channel(const Config &cfg, int ch, ChannelSignal &out, size_t pad_to)
{
	const ChannelConfig &cc = cfg.chan[ch];
	out.i.clear();
	out.q.clear();
	Gauss g(cfg.seed * 1000003ull + static_cast<uint64_t>(ch) * 7919ull + 17);
	KeyedSignal sig(cfg, ch, cfg.rate, g);
	if (!sig.error().empty())
		return sig.error();

	double sigma = cc.noise_only_sigma;
	if (!cc.transmissions.empty()) {
		double snr = std::pow(10.0, cc.snr_db / 10.0);
		sigma = cc.snr_db >= 1e8 ? 0.0
			: std::sqrt(cc.amplitude * cc.amplitude * cfg.rate / (2 * kNoiseBandHz * snr));
	}
	auto push_noise = [&](double re, double im) {
		out.i.push_back(static_cast<float>(re + sigma * g.next()));
		out.q.push_back(static_cast<float>(im + sigma * g.next()));
	};
	double re, im;
	while (sig.next(re, im))
		push_noise(re, im);
	out.spans = sig.spans();
	while (out.i.size() < pad_to)
		push_noise(0, 0);
	return "";
}

std::string render_audio(const Config &cfg, int ch, const AudioConfig &ac, std::vector<float> &out)
{
	out.clear();
	if (ch < 0 || ch >= static_cast<int>(cfg.chan.size()))
		return "no such channel";
	if (!(ac.rate >= 1000.0 && ac.rate <= 768000.0))
		return "the audio rate must be 1000 to 768000 samples per second";
	if (!(ac.centre_hz - kShiftHz - 50 > 0 && ac.centre_hz + kShiftHz + 50 < ac.rate / 2))
		return "the tones around the centre must lie between 0 Hz and half the audio rate";
	// The baseband signal clean at the audio rate; the noise goes in after
	// the shift to audio, so that it is white over the whole audio band.
	Config clean = cfg;
	clean.rate = ac.rate;
	ChannelConfig &cc = clean.chan[static_cast<size_t>(ch)];
	const double snr_db = cc.snr_db;
	cc.snr_db = 1e9;
	ChannelSignal sig;
	std::string err = render_channel(clean, ch, sig, 0);
	if (!err.empty())
		return err;

	// Tone amplitude a and noise deviation s: a^2/2 over the noise in
	// 500 Hz (s^2 * 500 / (rate / 2)) is the SNR, and a^2/2 + s^2 the
	// level squared.  A channel without messages is noise alone.
	const bool has_signal = !cc.transmissions.empty();
	double noise_per_power = 0.0; // s^2 / (a^2 / 2)
	if (has_signal && snr_db < 1e8)
		noise_per_power = ac.rate / (1000.0 * std::pow(10.0, snr_db / 10.0));
	double a = has_signal ? ac.level * std::sqrt(2.0 / (1.0 + noise_per_power)) : 0.0;
	double s = has_signal ? a * std::sqrt(noise_per_power / 2.0) : ac.level;
	const double scale = cc.amplitude > 0 ? a / cc.amplitude : 0.0;

	Gauss g(cfg.seed * 2654435761ull + static_cast<uint64_t>(ch) * 40503ull + 5);
	const double w = 2 * kPi * ac.centre_hz / ac.rate;
	out.resize(sig.i.size());
	for (size_t n = 0; n < sig.i.size(); n++) {
		// The phase from the sample number: no error builds up.
		const double ph = w * static_cast<double>(n);
		const double c = std::cos(ph), sn = std::sin(ph);
		// Upper sideband: Re{z e^(jwt)}; lower: Re{conj(z) e^(jwt)}.
		const double im = ac.lower ? -sig.q[n] : sig.q[n];
		double v = scale * (sig.i[n] * c - im * sn);
		if (s > 0)
			v += s * g.next();
		out[n] = static_cast<float>(v);
	}
	return "";
}

std::string write_recording(const Config &cfg, FILE *out, FILE *progress)
{
	using namespace stream_format;
	if (cfg.channels < 1 || cfg.channels > 4)
		return "channel count must be 1 to 4";
	if (!(cfg.rate >= 100.0 && cfg.rate <= 100000.0))
		return "sample rate must be 100 to 100000 frames per second";
	if (static_cast<int>(cfg.chan.size()) != cfg.channels)
		return "channel settings do not match the channel count";

	std::vector<ChannelSignal> sig(static_cast<size_t>(cfg.channels));
	size_t frames = 0;
	for (int ch = 0; ch < cfg.channels; ch++) {
		std::string err = render_channel(cfg, ch, sig[ch], 0);
		if (!err.empty())
			return err;
		frames = std::max(frames, sig[ch].i.size());
	}
	// Shorter channels go on with their own noise to the common length.
	for (int ch = 0; ch < cfg.channels; ch++)
		if (sig[ch].i.size() < frames)
			render_channel(cfg, ch, sig[ch], frames);

	const int fb = frame_bytes(cfg.channels);
	std::vector<unsigned char> block(static_cast<size_t>(fb) * kFramesPerDeviceBuffer);
	size_t next_report = frames / 10;
	for (size_t n = 0; n < frames; n += kFramesPerDeviceBuffer) {
		size_t count = std::min<size_t>(kFramesPerDeviceBuffer, frames - n);
		for (size_t k = 0; k < count; k++) {
			unsigned char *p = block.data() + k * fb;
			for (int ch = 0; ch < cfg.channels; ch++) {
				put_word(p + 4 * ch, to_sample(std::lround(sig[ch].q[n + k])));
				put_word(p + 4 * ch + 2, to_sample(std::lround(sig[ch].i[n + k])));
			}
			if ((n + k + 1) % kFramesPerDeviceBuffer == 0)
				p[fb - 1] |= 0x80; // buffer-end mark on the frame's last word
		}
		if (fwrite(block.data(), static_cast<size_t>(fb), count, out) != count)
			return std::string("write failed: ") + strerror(errno);
		if (progress && frames >= 100000 && n >= next_report) {
			fprintf(progress, "navsynth: %zu%%\n", n * 100 / frames);
			next_report += frames / 10;
		}
	}
	if (fflush(out) != 0)
		return std::string("write failed: ") + strerror(errno);
	if (progress)
		fprintf(progress, "navsynth: %zu frames (%.1f s at %.2f frames/s), %d channels\n",
			frames, frames / cfg.rate, cfg.rate, cfg.channels);
	return "";
}

} // namespace navsynth
