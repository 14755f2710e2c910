// What a capture file says about itself: the centre frequency from an
// SDR program's "auxi" chunk of a WAV/RF64 file or from a frequency in the
// file's name, and the sample format, rate and frequency of a SigMF
// recording's metadata (JSON, nlohmann-json); the channel frequencies
// given on the command line.
#ifndef NAVSDR_CAPTURE_H
#define NAVSDR_CAPTURE_H

#include <cstddef>
#include <string>

#include <sndfile.h>

#include "iq_format.h"
#include "navsdr.h"

namespace navsdr {

// The centre frequency in an auxi chunk as SDR# and SDRuno write it: two
// SYSTEMTIME records (start and stop, 16 bytes each), then the centre in
// Hz as an unsigned 32-bit little-endian number.  False when the chunk is
// too short or the frequency is 0.
bool centre_from_auxi(const unsigned char *data, size_t n, double &hz);
// The same from an open sound file's auxi chunk (libsndfile's chunk
// interface); false when it has none or it says nothing.
bool centre_from_sound_file(SNDFILE *sf, double &hz);

// A frequency in a file name, as SDR programs write them:
// "..._516000Hz..." or "..._516kHz..." (also MHz, any case, with a
// decimal point).  The last such number counts; false when there is none.
bool centre_from_name(const std::string &path, double &hz);

struct Sigmf {
	iq_format::Format format = iq_format::Format::cu8;
	double rate = 0;
	double centre_hz = 0;
	bool have_centre = false;
};

// Parses a .sigmf-meta text; an error text, or empty.
std::string parse_sigmf(const std::string &json_text, Sigmf &out);

// -c: "490=490300,518=518000,4209=9500", frequencies in Hz as the
// capture sees the channels, into the settings; an error text or empty.
std::string parse_channel_list(const std::string &list, Settings &s);

} // namespace navsdr

#endif
