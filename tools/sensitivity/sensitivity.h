// Sensitivity of the decoding chain: synthesized transmissions with noise
// and impairments, decoded by the daemon's own chain, scored against the
// sent text.
//
// One case is one channel carrying one message (two consecutive ones in
// the offset, bit-rate and fading sweeps) at a given SNR (dB in a 500 Hz
// band), carrier offset (Hz), bit-rate error (ppm), fading Doppler spread
// (Hz) and frame rate (frames per second), with a noise seed.  Its
// result: the character error rate of the daemon's character echo against
// the sent texts (edit distance over the reference length), whether the
// bit clock locked (any character echoed), and whether the messages were
// queued with their identifiers.
#ifndef SENSITIVITY_H
#define SENSITIVITY_H

#include <cstdint>
#include <string>
#include <vector>

#include "decode.h"
#include "navsynth.h"

namespace sensitivity {

struct condition {
	std::string sweep; // which sweep the case belongs to
	std::string chain = "specified"; // decoding chain: "specified" or "enhanced"
	double rate = 1707.65;
	double snr_db = 1e9; // 1e9 and above: no noise
	double offset_hz = 0;
	double ppm = 0;
	double fading_hz = 0;
	uint64_t seed = 1;
};

struct outcome {
	int ref_chars = 0;
	int wrong_chars = 0;
	bool locked = false;
	bool msg_ok = false;  // queued with the sent identifier
	int msg_errors = -1;  // its error count, -1 when none queued
	int unmarked = 0;     // wrong characters not marked '*' (not in the CSV)
	double cer() const { return ref_chars > 0 ? double(wrong_chars) / ref_chars : 1.0; }
};

struct row {
	condition cond;
	outcome out;
};

// The echo's characters without the marks a reference text lacks: the
// carriage return 'r', phasing and idle marks 's' 'a' 'b' 'c', and the
// shift letters 'l' 'f'.
std::string strip_marks(const std::string &echo);

// Fewest edits (insert, delete, replace) that turn the reference into some
// stretch of the echo: characters decoded before or after the message
// (noise while locking, idle signals) are not counted.
int fitting_distance(const std::string &reference, const std::string &echo);
// Of the edits of such a fitting, those that are not a character replaced
// by the error mark '*': wrong text the reader is not warned of.
int unmarked_errors(const std::string &reference, const std::string &echo);

// The message text sent for a seed (ZCZC, identifier, text, NNNN) and its
// four-character identifier.
std::string message_text(uint64_t seed);
std::string message_id(uint64_t seed);

// Transmissions a case of the sweep sends: two in the offset, bit-rate
// and fading sweeps (the second after one second of noise, so that the
// chain must let go of the first and find the second), else one.
int transmissions_per_case(const std::string &sweep);

// Synthesizes and decodes one case in this process; the daemon's echo is
// caught from standard output.  Of several transmissions each text is
// scored against the echo and their counts summed; the message counts as
// queued when every one was, its errors the sum.  Empty error text on
// success.
std::string run_case(const condition &c, outcome &out);

// Writes the recording into a new scratch file, left open in `fd` (-1 on
// failure).  Empty error text on success.
std::string record(const navsynth::Config &cfg, int &fd);

// CSV: a header line, then one line per case.
std::string csv_header();
std::string csv_line(const row &r);
// Parses a CSV text written by csv_line (header optional); malformed lines
// give an error naming the line.
std::string parse_csv(const std::string &text, std::vector<row> &rows);

// The decoding chains the rows hold, "specified" and "enhanced" first in
// that order.
std::vector<std::string> chains(const std::vector<row> &rows);

// Mean figures of the cases that share a sweep, chain, rate and x value.
struct point {
	double x = 0;
	int cases = 0;
	double cer = 0;       // mean character error rate, 0..1
	double msg_rate = 0;  // share of messages queued with their identifier
	double lock_rate = 0; // share of cases whose bit clock locked
};

// x is the column named by `axis`: "snr_db", "offset_hz", "ppm" or
// "fading_hz"; points come sorted by x.
std::vector<point> aggregate(const std::vector<row> &rows, const std::string &sweep, double rate,
			     const std::string &axis, const std::string &chain = "specified");

// The lowest x from which every point up to the end has a mean CER below
// `limit`; NaN when the last point does not.
double threshold_from_below(const std::vector<point> &pts, double limit);
// Walking outwards from x = 0: the last points on each side whose mean CER
// is below `limit` before the first that is not, and whether such a first
// failing point was met (false: it works to the end of the sweep).
struct range {
	double lo = 0, hi = 0;
	bool lo_broke = false, hi_broke = false;
};
range working_range(const std::vector<point> &pts, double limit);

} // namespace sensitivity

#endif
