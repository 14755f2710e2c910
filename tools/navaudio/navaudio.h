// NAVTEX audio to the radio device's sample stream.
//
// A receiver's audio output carries the two FSK tones 170 Hz apart around
// some audio centre frequency.  The converter mixes that centre down to
// complex baseband, low-pass filters and resamples (libsoxr) to the
// device's frame rate, keeps the level near the daemon's gain target, and
// writes stream frames: the signal on one channel, low noise on the
// others, a buffer-end mark on every 64th frame.  The centre finder
// locates the strongest tone pair in a power spectrum (FFTW).
#ifndef NAVAUDIO_H
#define NAVAUDIO_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framer.h"
#include "stream_format.h"

namespace navaudio {

constexpr double kMinInputRate = 4000.0;
constexpr double kMaxInputRate = 768000.0;
constexpr double kMinFrameRate = 1000.0;
constexpr double kMaxFrameRate = 4000.0;
constexpr double kShiftHz = 85.0;       // each tone's distance from the centre
constexpr double kLowestCentre = 300.0; // range searched for the centre
constexpr double kHighestCentre = 3000.0;
constexpr int kChannels = 3;
// Mean absolute value of each component that the daemon's gain regulation
// aims at.
constexpr double kTargetLevel = streamconv::kTargetLevel;

struct Settings {
	double in_rate = 48000.0;  // audio samples per second
	double centre_hz = 1000.0; // audio frequency midway between the tones
	bool invert = false;       // lower sideband: the 1 bit is the lower tone
	double frame_rate = stream_format::kBoardFrameRate;
	int channel = 1;           // which of the three channels carries the signal
	uint64_t seed = 1;         // noise of the other channels
};

// Why the settings cannot be used, or an empty text.
std::string check(const Settings &s);

// The highest tone centre that audio at this rate can carry.
double highest_centre(double in_rate);

// Audio in, stream bytes out, block by block.
class Converter {
public:
	explicit Converter(const Settings &s); // check() the settings first
	~Converter();
	Converter(const Converter &) = delete;
	Converter &operator=(const Converter &) = delete;

	// Non-empty when the resamplers could not be set up.
	const std::string &error() const;
	// Audio samples, full scale +-1; the frames they complete are appended
	// to `out`.
	void push(const float *audio, size_t n, std::vector<unsigned char> &out);
	// The samples still held in the filters, at the end of the input.
	void finish(std::vector<unsigned char> &out);
	uint64_t frames() const;
	// A new tone centre from here on (one that check() accepts).
	void set_centre(double centre_hz);

private:
	struct Impl;
	std::unique_ptr<Impl> impl_;
};

// One window of the centre search.
struct CentreWindow {
	double from_s = 0;    // where it starts in the audio
	bool found = false;   // a tone pair stands out of the noise in it
	double centre_hz = 0; // its centre, or the nearest window's (0: none)
	double strength = 0;  // how far the pair stands out
};

// Power spectra of the audio summed over windows of a minute, and the
// tone pairs in them: a short message in a long recording stands out of
// its own minute where the whole file's average would bury it.
class CentreFinder {
public:
	static constexpr double kWindowSeconds = 60.0;

	explicit CentreFinder(double in_rate);
	~CentreFinder();
	CentreFinder(const CentreFinder &) = delete;
	CentreFinder &operator=(const CentreFinder &) = delete;

	void push(const float *audio, size_t n);
	// Seconds of audio analysed so far.
	double seconds() const;
	// The centre of the strongest pair of tones 170 Hz apart between 300
	// and 3000 Hz (as far as the rate allows) in any window; false when
	// no pair stands out of the noise or too little audio was seen.
	bool result(double &centre_hz) const;
	// Every window so far, in order.
	std::vector<CentreWindow> windows() const;

private:
	struct Impl;
	std::unique_ptr<Impl> impl_;
};

// Samples beyond full scale (+-1) clipped to it, those that are not
// numbers set to 0, in place; returns how many were changed.  The
// converter and the centre finder apply it themselves: one huge sample
// would otherwise ruin the filters' and the level's memory.
size_t sanitise(float *x, size_t n);

// Headerless signed 16-bit little-endian audio: bytes in, samples out; a
// byte that ends a read in the middle of a sample waits for the next.
class RawS16 {
public:
	void decode(const unsigned char *bytes, size_t n, std::vector<float> &out);
	// True when the input ended in the middle of a sample.
	bool dangling() const { return have_odd_; }

private:
	bool have_odd_ = false;
	unsigned char odd_ = 0;
};

} // namespace navaudio

#endif
