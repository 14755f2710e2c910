// Watch mode: what a receiver makes of an hour of traffic, not of one
// transmission.
//
// A stream is a recording of several channels, each carrying transmissions
// one after another as different stations send them: each with its own
// carrier offset (within +-60 Hz), level (3 to 12 dB in 500 Hz over the
// channel's noise), bit-rate error (within +-300 ppm) and station letter
// (B1); about one in five fades (Rayleigh, 10 to 16 dB mean, 0.2 or 1 Hz
// Doppler spread).  Half follow the one before within 1 to 3 s, the rest
// after 5 s to 2 minutes of noise; some carry two or three messages.  Every
// identifier (B1 station, B2 type, B3B4 serial) is sent once in a stream.
// The stream's plan is the reference list of what was sent; a seed gives
// the same plan and recording every time.
//
// Scoring, per channel: every message sent is ok (queued with its
// identifier, fewer than 4 % of its characters wrong against the text
// sent), errored (queued with its identifier, 4 % or more wrong) or missed
// (not queued with its identifier); a queued identifier that was never
// sent on the channel is counted apart, and so is a second copy of one.
#ifndef SENSITIVITY_WATCH_H
#define SENSITIVITY_WATCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "decode.h"
#include "navsynth.h"

namespace sensitivity {

struct watch_message {
	std::string id;   // B1 B2 B3 B4
	std::string text; // "ZCZC " id, newline, body, newline, "NNNN"
	std::string body() const; // what the daemon queues: after the id line
};

struct watch_tx {
	double start_s = 0, end_s = 0; // its signal in the stream
	navsynth::TxParams params;     // gap, level, offset, rate error, fading
	std::vector<watch_message> messages;
	std::string text() const;      // the messages as one transmission
};

struct watch_stream {
	uint64_t seed = 1;
	double rate = 1707.65;
	double length_s = 0;
	std::vector<std::vector<watch_tx>> channels;
};

// Phasing and closing idle of every transmission in the streams (s).
constexpr double kWatchPhasingS = 5.0;
constexpr double kWatchIdleS = 2.0;
// The channels' noise: the level a transmission's SNR is counted from.
constexpr double kWatchNoiseRefDb = 10.0;

// Seconds a transmission's signal lasts: its phasing, text and idle.
double transmission_seconds(const std::string &text, double ppm);

watch_stream plan_stream(uint64_t seed, int channels, double minutes, double rate = 1707.65);
// The navsynth settings that send the plan.
navsynth::Config stream_config(const watch_stream &s);

enum class verdict { ok, errored, missed, never_sent, duplicate };
const char *verdict_name(verdict v);

// One line per message sent, and per identifier queued that was not
// expected (never sent on the channel, or a second copy).
struct watch_line {
	int channel = 0;
	int tx = -1, msg = -1; // -1: not a sent message
	std::string id;
	verdict v = verdict::missed;
	double wrong_pct = 100; // edits against the text sent, % of its length
	int marked = 0;         // of those, characters the chain marked '*'
	double at_s = -1;       // unexpected ones: about where "ZCZC" was read
};

// Fewest edits (insert, delete, replace) between the two texts.
int edit_distance(const std::string &a, const std::string &b);

std::vector<watch_line> score_stream(const watch_stream &s, const std::vector<queued> &got);

// Counts of one channel (or a sum): unfaded messages by verdict, faded
// ones sent and ok by Doppler spread, unexpected identifiers.
struct watch_tally {
	int sent = 0, ok = 0, errored = 0, missed = 0;
	int fade02_sent = 0, fade02_ok = 0, fade1_sent = 0, fade1_ok = 0;
	int never_sent = 0, duplicates = 0;
	void add(const watch_tally &o);
};
watch_tally tally(const watch_stream &s, const std::vector<watch_line> &lines, int channel);

// CSV of the lines: one per message sent (with its transmission's
// settings) and per unexpected identifier (with about where it was read).
std::string watch_csv_header();
std::string watch_csv_line(const watch_stream &s, const std::string &chain, const watch_line &l);

// Target cases beside the streams.
//
// Pairs: two transmissions one second apart at one carrier offset, 10 dB;
// how many of the two messages were queued with their identifier and
// under 4 % wrong.
int run_pair(double offset_hz, uint64_t seed, const std::string &chain, std::string &err);

// Joined mid-message: a transmission of three messages, the recording
// joining it in the middle of the first with no phasing heard and losing
// it in the middle of the third; then `tail` ("dc", "silence" or "noise")
// for tail_s.  Scored: the character echo from 2 s after the join to the
// loss, the second message, and what the chain does after the loss.
struct midstart_result {
	double cer = 1;          // of the text from 2 s in to the loss
	int ref_chars = 0;
	bool second_ok = false;  // the second message queued, under 4 % wrong
	int echo_after[6] = {};  // echo characters from the loss to +1, +2, +5, +10, +30 s and the end
	int open_at_loss = -1;   // the open message's length then, -1: none
	int open_after10 = -1;   // ... 10 s later
	int open_at_end = -1;    // ... at the end
};
extern const double kMidstartSteps[5]; // the 1, 2, 5, 10, 30 s above
std::string run_midstart(uint64_t seed, const std::string &tail, double tail_s, const std::string &chain,
			 midstart_result &out);

} // namespace sensitivity

#endif
