// NAVTEX transmitter model, the signal: transmissions as FSK tones with
// noise, offset, bit-rate error and fading, written as the device's stream
// or as audio; see navsynth.h for what it takes and gives.
#include "navsynth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "stream_format.h"

namespace navsynth {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kShiftHz = 85.0;   // each tone's distance from the centre
constexpr double kBaud = 100.0;
constexpr double kNoiseBandHz = 500.0;

} // namespace

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

namespace {

// Flat Rayleigh fading as a sum of sinusoids with random arrival angles.
struct Fader {
	static constexpr int kPaths = 16;
	double w[kPaths], ph[kPaths];
	bool on = false;
	Fader(double doppler_hz, Gauss &g)
	{
		on = doppler_hz > 0;
		for (int m = 0; m < kPaths; m++) {
			w[m] = 2 * kPi * doppler_hz * std::cos(2 * kPi * g.uniform());
			ph[m] = 2 * kPi * g.uniform();
		}
	}
	void gain(double t, double &re, double &im) const
	{
		re = on ? 0.0 : 1.0;
		im = 0.0;
		if (!on)
			return;
		for (int m = 0; m < kPaths; m++) {
			re += std::cos(w[m] * t + ph[m]);
			im += std::sin(w[m] * t + ph[m]);
		}
		re /= std::sqrt(double(kPaths));
		im /= std::sqrt(double(kPaths));
	}
};

} // namespace

std::string render_channel(const Config &cfg, int ch, ChannelSignal &out, size_t pad_to)
{
	const ChannelConfig &cc = cfg.chan[ch];
	out.i.clear();
	out.q.clear();
	out.spans.clear();
	Gauss g(cfg.seed * 1000003ull + static_cast<uint64_t>(ch) * 7919ull + 17);
	Fader fader(cc.fading_hz, g);

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
	auto gap = [&](double seconds) {
		long n = std::lround(seconds * cfg.rate);
		for (long k = 0; k < n; k++)
			push_noise(0, 0);
	};

	const int phasing = static_cast<int>(std::lround(cfg.phasing_s * kBaud / 14.0));
	const int idle = static_cast<int>(std::lround(cfg.idle_s * kBaud / 14.0));
	const bool own = !cc.tx.empty();
	if (own && cc.tx.size() != cc.transmissions.size())
		return "channel " + std::to_string(ch) + ": transmission settings do not match the transmissions";
	double phase = 0.0;

	if (!own)
		gap(cfg.gap_s);
	for (size_t t = 0; t < cc.transmissions.size(); t++) {
		Encoded e = encode_text(cc.transmissions[t]);
		if (!e.error.empty())
			return "channel " + std::to_string(ch) + ", message " + std::to_string(t + 1) + ": " + e.error;
		TxParams p;
		double amplitude = cc.amplitude;
		if (own) {
			p = cc.tx[t];
			gap(p.gap_s);
			if (p.snr_db < 1e8 && cc.snr_db < 1e8)
				amplitude *= std::pow(10.0, (p.snr_db - cc.snr_db) / 20.0);
		} else {
			p.offset_hz = cc.offset_hz;
			p.ppm = cc.ppm;
		}
		// A transmission's own fading has a generator of its own, so the
		// channel's noise is the same whatever fades.
		Gauss fg(cfg.seed * 6364136223846793005ull + static_cast<uint64_t>(ch) * 1442695040888963407ull + t);
		const Fader own_fader(p.fading_hz, fg);
		const Fader &fade = own ? own_fader : fader;
		std::vector<Code> sent = interleave(e.codes, phasing, idle);
		const double bit_s = 1.0 / (kBaud * (1.0 + p.ppm * 1e-6));
		const size_t nbits = sent.size() * 7;
		const long n0 = static_cast<long>(out.i.size());
		const long skip = std::lround(p.skip_s * cfg.rate);
		const long end = p.end_s > 0 ? std::lround(p.end_s * cfg.rate) : -1;
		for (long n = 0; n != end; n++) {
			double tt = n / cfg.rate;
			size_t k = static_cast<size_t>(tt / bit_s);
			if (k >= nbits)
				break;
			bool one = (sent[k / 7].bits >> (k % 7)) & 1;
			double f = p.offset_hz + (one ? kShiftHz : -kShiftHz);
			phase += 2 * kPi * f / cfg.rate;
			if (phase > kPi)
				phase -= 2 * kPi;
			else if (phase < -kPi)
				phase += 2 * kPi;
			if (n < skip)
				continue;
			double fr, fi;
			fade.gain((n0 + n - skip) / cfg.rate, fr, fi);
			double re = amplitude * std::cos(phase), im = amplitude * std::sin(phase);
			push_noise(re * fr - im * fi, re * fi + im * fr);
		}
		out.spans.emplace_back(static_cast<size_t>(n0), out.i.size());
		if (!own)
			gap(cfg.gap_s);
	}
	if (own)
		gap(cc.tail_s);
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
