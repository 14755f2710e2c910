// An SDR's view of the NAVTEX channels: wideband complex I/Q at a chosen
// sample rate and centre frequency, each channel with messages placed at
// its own frequency (490, 518, 4209.5 and 424 kHz for channels 0 to 3,
// plus its carrier offset), with white noise across the whole band.
//
// The band's noise is the channel's noise of the Config (SNR in 500 Hz),
// taken from the noisiest channel with messages, so that channels of equal
// settings each see their SNR.  Samples come in blocks of interleaved I, Q
// floats, scaled so that the band's RMS magnitude is 0.2 of full scale.
#ifndef NAVSYNTH_WIDEBAND_H
#define NAVSYNTH_WIDEBAND_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "navsynth.h"

namespace navsynth {

constexpr double kChannelHz[4] = {490000.0, 518000.0, 4209500.0, 424000.0};

struct WidebandConfig {
	double rate = 2048000.0;    // complex samples per second
	double centre_hz = 504000.0; // frequency at 0 Hz of the capture
};

// Why the settings cannot be used (a channel with messages outside the
// band, say), or empty.
std::string check_wideband(const Config &cfg, const WidebandConfig &wb);

// Renders the capture, handing blocks of `n` complex samples to `sink`,
// which returns an error text or empty.  Progress to `progress` when not
// null.  Returns an error text, empty on success.
std::string render_wideband(const Config &cfg, const WidebandConfig &wb,
			    const std::function<std::string(const float *iq, size_t n)> &sink, FILE *progress);

} // namespace navsynth

#endif
