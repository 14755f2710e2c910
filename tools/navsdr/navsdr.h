// NAVTEX from an SDR's wideband I/Q to the radio device's sample stream.
//
// Complex samples (interleaved I, Q, full scale 1) at the capture's rate,
// centred at the capture's frequency, go in.  Every NAVTEX channel whose
// frequency lies inside the capture's usable band (centre +-0.45 x rate) is
// brought to 0 Hz and down to 8000 samples per second: the band first as a
// whole to the lowest rate that still holds all those channels (libsoxr),
// then each channel by its own numerically controlled mixer and resampler.
// The first seconds of each channel are analysed for its tone pair
// (streamconv's spectrum and phase-turn refinement, +-1500 Hz around the
// channel frequency), then each channel is mixed by its tone centre,
// narrowed and brought to the frame rate, and written into the daemon's
// slot for it (0: 490 kHz, 1: 518 kHz, 2: 4209.5 kHz); slots without a
// channel carry low noise.  Memory is bounded by the analysis window.
#ifndef NAVSDR_H
#define NAVSDR_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framer.h"
#include "stream_format.h"

namespace navsdr {

constexpr int kSlots = streamconv::kSlots;
constexpr double kNominalHz[kSlots] = {490000.0, 518000.0, 4209500.0};
constexpr double kMinRate = 8000.0;
constexpr double kMaxRate = 100e6;
constexpr double kMinFrameRate = 1000.0;
constexpr double kMaxFrameRate = 4000.0;
// The tone centre is looked for this far either side of a channel's
// frequency: a crystal 300 ppm off at 4.2 MHz, or 600 ppm at 500 kHz.
constexpr double kSearchHz = 1500.0;

struct Settings {
	double in_rate = 2048000.0; // complex samples per second
	double centre_hz = 0.0;     // capture frequency at 0 Hz
	// Each slot's channel frequency as the capture sees it (-c corrects).
	std::array<double, kSlots> chan_hz = {kNominalHz[0], kNominalHz[1], kNominalHz[2]};
	std::array<bool, kSlots> given{}; // set by -c: must lie inside
	double frame_rate = stream_format::kBoardFrameRate;
	uint64_t seed = 1; // noise of the slots without a channel
};

// Usable band of a capture, in Hz.
double band_low(const Settings &s);
double band_high(const Settings &s);
// Whether slot k's channel lies inside the usable band.
bool inside(const Settings &s, int slot);
// "503.0 to 505.0 kHz"
std::string band_text(const Settings &s);
// Why the settings cannot be used, or an empty text.
std::string check(const Settings &s);

struct ChannelReport {
	bool inside = false;
	bool found = false;   // a tone pair stood out in the analysed seconds
	double tone_hz = 0;   // the tone centre used, capture frequency
};

class Converter {
public:
	// check() the settings first; `analysis_s`: seconds looked at for the
	// tone centres before anything is written.
	Converter(const Settings &s, double analysis_s);
	~Converter();
	Converter(const Converter &) = delete;
	Converter &operator=(const Converter &) = delete;

	const std::string &error() const;
	// n complex samples in, all finite; the frames they complete are
	// appended to out.
	void push(const float *iq, size_t n, std::vector<unsigned char> &out);
	void finish(std::vector<unsigned char> &out);
	// Whether the tone centres are decided, and what they are.
	bool decided() const;
	std::array<ChannelReport, kSlots> report() const;
	uint64_t frames() const;

private:
	struct Impl;
	std::unique_ptr<Impl> impl_;
};

} // namespace navsdr

#endif
