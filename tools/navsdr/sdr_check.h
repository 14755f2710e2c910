// The I/Q path end to end in one process, for the tests and the
// sensitivity comparison: a synthesized wideband capture (navsynth's
// wideband renderer), quantised in an SDR sample format, converted by
// navsdr's converter, decoded by the daemon's own chain.
#ifndef NAVSDR_SDR_CHECK_H
#define NAVSDR_SDR_CHECK_H

#include <string>
#include <vector>

#include "iq_format.h"
#include "navsdr.h"
#include "sensitivity.h"

namespace navsdr_check {

struct iq_case {
	sensitivity::condition cond; // rate: the stream's frame rate; chain: the decoder's
	double iq_rate = 2048000;
	double centre_hz = 504000;   // where the capture really is centred
	double centre_error_hz = 0;  // what navsdr is told differs by this much
	iq_format::Format format = iq_format::Format::cu8;
	int slot = 1;                // the channel that carries the message
};

// One case, scored as the direct stream's cases are; `report` gets what
// the converter said of the slot's channel.
std::string run_iq_case(const iq_case &c, sensitivity::outcome &out, navsdr::ChannelReport *report = nullptr);

} // namespace navsdr_check

#endif
