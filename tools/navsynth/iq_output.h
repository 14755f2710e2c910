// navsynth's wideband I/Q output (-Q).
#ifndef NAVSYNTH_IQ_OUTPUT_H
#define NAVSYNTH_IQ_OUTPUT_H

#include <string>

#include "iq_format.h"
#include "navsynth.h"
#include "wideband.h"

// Writes the capture to `path` ('-': standard output): headerless samples
// in `fmt`, or for a .wav name a two-channel WAV (16-bit, or float for
// cf32) with the centre in its auxi chunk.  An error text, or empty; a
// partial file is removed.
std::string write_iq(const navsynth::Config &cfg, const navsynth::WidebandConfig &wb, iq_format::Format fmt,
		     const std::string &path);

#endif
