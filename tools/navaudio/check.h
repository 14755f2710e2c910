// The audio path end to end in one process, for the tests and the
// sensitivity comparison: a synthesized receiver audio signal, converted to
// the device stream, decoded by the daemon's own chain.
#ifndef NAVAUDIO_CHECK_H
#define NAVAUDIO_CHECK_H

#include <functional>
#include <string>
#include <vector>

#include "navaudio.h"
#include "sensitivity.h"

namespace navaudio_check {

struct audio_case {
	sensitivity::condition cond; // its rate is the stream's frame rate
	double audio_rate = 48000;
	double centre_hz = 1000;
	bool lower = false;
	bool find_centre = false; // look for the centre instead of using it
};

// Converts audio (full scale 1) with the settings; an error text or empty.
std::string convert(const std::vector<float> &audio, const navaudio::Settings &s,
		    std::vector<unsigned char> &stream);

// Decodes channel `ch` of a three-channel stream with the daemon's chain
// (named as in sensitivity::condition); the character echo and the
// identifiers (with error counts) of the queued messages.
using decoded = sensitivity::decoded;
std::string decode_channel(const std::vector<unsigned char> &stream, int ch, decoded &out,
			   const std::string &chain = "specified");

// Scores channel `ch` of a stream against the message of `cond`'s seed
// (decoded with its chain) into `out`, as the direct stream's cases are.
std::string score_channel(const std::vector<unsigned char> &stream, int ch, const sensitivity::condition &cond,
			  sensitivity::outcome &out);

// One case of the audio path, scored as the direct stream's cases are.
// `centre_used` gets the centre the conversion used.
std::string run_audio_case(const audio_case &c, sensitivity::outcome &out, double *centre_used = nullptr);

// The direct stream against a conversion path, for the sensitivity
// programs: at each SNR from lo to hi in steps, seeds 1 to `seeds` (cases
// of `sweep`, decoded with `chain`) go through both; a table row per SNR on
// standard output, the path's columns named `path`, and the SNRs at which
// each mean CER falls below 1 %.  An error of either ends the sweep with
// "<program>: SNR <snr> dB, seed <seed>: <error>" on standard error and false.
using path_runner = std::function<std::string(const sensitivity::condition &, sensitivity::outcome &)>;
bool compare_paths(const char *program, const char *path, const std::string &sweep, const std::string &chain,
		   double lo, double hi, double step, int seeds, const path_runner &run_path, double &direct_db,
		   double &path_db);

} // namespace navaudio_check

#endif
