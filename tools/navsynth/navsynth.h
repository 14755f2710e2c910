// NAVTEX transmitter model: message texts in, a recording in the device's
// sample stream out.
//
// Each channel gets its transmissions (phasing, the message text with
// letters/figures shifts and the DX/RX time diversity, closing idle
// signals) as continuous-phase FSK at 100 baud, +-85 Hz around the
// channel centre (a 1 bit is the upper tone), in complex baseband.
// Amplitude, noise (SNR in a 500 Hz band), carrier offset, bit-rate error
// and Rayleigh fading are per channel, or per transmission where a channel
// lists its transmissions' own settings (a stream of stations that differ,
// with gaps of their own, joined or left mid-text).  Output frames follow
// the stream layout: per channel a Q word then an I word, unsigned 15-bit
// around 16384, bit 15 set on the last word of every 64th frame.  Seeded,
// so every run with the same settings writes the same bytes.
#ifndef NAVSYNTH_H
#define NAVSYNTH_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace navsynth {

// Seven-unit code points, bit 0 sent first; each has four 1 bits.
enum class Case { letters, figures };

struct Code {
	uint8_t bits;     // bit j = unit j of the character as sent
};

// Control signals of the code.
Code code_letters();  // letters shift
Code code_figures();  // figures shift
Code code_alpha();    // idle signal alpha (phasing signal 2)
Code code_beta();     // idle signal beta
Code code_rq();       // phasing signal 1

// Result of turning a text into code points.
struct Encoded {
	std::vector<Code> codes;
	std::string error; // empty when the text could be encoded
};

// Translates text into code points, inserting shifts where the case must
// change; a newline becomes carriage return + line feed, lower-case
// letters are sent as upper case.  Starts in letters case.
Encoded encode_text(const std::string &text);

// The sent order of one transmission: DX and RX slots alternate, the RX
// slot carrying the character sent five positions earlier.  `phasing`
// first copies of phasing signal 1 (with phasing signal 2 in the RX slots)
// open it; `idle` alpha signals close it.
std::vector<Code> interleave(const std::vector<Code> &text, int phasing, int idle);

// Splits a message file into transmissions, one per message ended by a line
// "NNNN"; text after the last one forms a further transmission.
std::vector<std::string> split_messages(const std::string &file_text);

// One transmission's own settings.  Its level is an SNR over the channel's
// noise (set by the channel's amplitude and SNR); offset, bit-rate error and
// fading replace the channel's.  skip_s and end_s cut the signal: the
// recording joins it skip_s after its start and loses it end_s after its
// start (0: at its end), times counted in the transmission's own bits.
struct TxParams {
	double gap_s = 1.0;     // noise before it
	double snr_db = 1e9;    // huge: the channel's amplitude
	double offset_hz = 0.0;
	double ppm = 0.0;
	double fading_hz = 0.0; // Doppler spread, 0 = none
	double skip_s = 0.0;
	double end_s = 0.0;
};

struct ChannelConfig {
	std::vector<std::string> transmissions; // texts; empty: noise only
	// Empty: every transmission takes the channel's settings below, with
	// the Config's gap before, between and after them.  Otherwise one per
	// transmission, and tail_s of noise after the last.
	std::vector<TxParams> tx;
	double tail_s = 1.0;
	double amplitude = 785.0;               // tone peak, sample units
	double snr_db = 1e9;                    // in a 500 Hz band; huge = clean
	double offset_hz = 0.0;                 // carrier offset
	double ppm = 0.0;                       // bit-rate error
	double fading_hz = 0.0;                 // Doppler spread, 0 = none
	double noise_only_sigma = 20.0;         // noise of a channel with no signal
};

struct Config {
	int channels = 3;
	double rate = 1707.65;    // frames per second
	uint64_t seed = 1;
	double phasing_s = 5.0;   // phasing before each transmission
	double idle_s = 2.0;      // alpha signals closing each transmission
	double gap_s = 1.0;       // noise before, between and after transmissions
	std::vector<ChannelConfig> chan;
};

// Deterministic normal deviates (Box-Muller on a 64-bit generator), so a
// seed gives the same recording on every platform.
class Gauss {
public:
	explicit Gauss(uint64_t seed);
	double uniform(); // (0, 1)
	double next();    // mean 0, deviation 1
private:
	uint64_t state_;
	bool have_spare_ = false;
	double spare_ = 0.0;
};

// Baseband generator of one channel: a sequence of sample pairs.
struct ChannelSignal {
	std::vector<float> i, q;
	// Per transmission: the first frame of its signal and the frame after
	// its last.
	std::vector<std::pair<size_t, size_t>> spans;
};

struct Fader;

// One channel's keyed tones, clean and faded, sample by sample at `rate`:
// the gap, each transmission followed by a gap, then the end; or, where the
// channel lists its transmissions' own settings, each transmission after
// its own gap, then the tail.  The channel's fading paths are drawn from
// `g`; a transmission's own fading has a generator of its own.
class KeyedSignal {
public:
	KeyedSignal(const Config &cfg, int ch, double rate, Gauss &g);
	~KeyedSignal();
	KeyedSignal(const KeyedSignal &) = delete;
	KeyedSignal &operator=(const KeyedSignal &) = delete;
	// Why a message cannot be sent, or empty.
	const std::string &error() const { return error_; }
	// The next sample; false at the end.
	bool next(double &re, double &im);
	// Per transmission so far: the first sample of its signal and the
	// sample after its last.
	const std::vector<std::pair<size_t, size_t>> &spans() const { return spans_; }

private:
	// How one transmission is keyed.
	struct Keying {
		double amplitude, offset_hz, bit_s;
		long gap_n;      // samples of noise before it
		long skip, end;  // samples of it left out at its start; where it is lost, -1: never
		Fader *fader;
	};
	void start_gap();

	double rate_;
	std::vector<std::unique_ptr<Fader>> faders_; // the channel's, then any own
	std::vector<Keying> keying_;
	long tail_n_ = 0;
	std::vector<std::vector<Code>> sent_;
	std::vector<std::pair<size_t, size_t>> spans_;
	std::string error_;
	long gap_left_ = 0;
	size_t t_ = 0;
	bool keyed_ = false;
	long n_ = 0;
	uint64_t index_ = 0;
	double phase_ = 0.0;
};

// Builds a channel's samples (before quantisation), going on with noise
// up to `pad_to` frames.  Returns an error text, empty on success.
std::string render_channel(const Config &cfg, int ch, ChannelSignal &out, size_t pad_to);

// A receiver's audio output: the channel's two tones around an audio
// centre frequency, as a single-sideband receiver gives them.
struct AudioConfig {
	double rate = 48000.0;     // samples per second
	double centre_hz = 1000.0; // midway between the two tones
	bool lower = false;        // lower sideband: the 1 bit on the lower tone
	double level = 0.1;        // RMS of signal and noise, full scale 1
};

// Renders channel `ch` of `cfg` (whose frame rate is not used) as real
// audio samples with the channel's noise, SNR still counted in a 500 Hz
// band, and fading, offset and bit-rate error as in the stream.  Returns an
// error text, empty on success.
std::string render_audio(const Config &cfg, int ch, const AudioConfig &ac, std::vector<float> &out);

// Writes the recording; progress goes to `progress` when not null.
// Returns an error text, empty on success.
std::string write_recording(const Config &cfg, FILE *out, FILE *progress);

} // namespace navsynth

#endif
