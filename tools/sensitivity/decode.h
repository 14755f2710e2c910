// The daemon's decoding chain run in this process on a recording: what it
// echoed and what it queued.
//
// A recording open on a file descriptor (the device's stream, one to four
// channels) is decoded from its start with the daemon's defaults (lock
// after more than two phasing periods, every message queued whatever its
// errors), by the specified chain or the enhanced one (`skerrin -A`).
// Out: the character echo (debug 0x08, all channels in one), every queued
// message with its channel, identifier, text, error count and the frame
// where it began (to the second), and per channel the length of a message
// still open at the end.  The queue is process-wide: it is emptied here.
#ifndef SENSITIVITY_DECODE_H
#define SENSITIVITY_DECODE_H

#include <string>
#include <vector>

namespace sensitivity {

// A file descriptor of an anonymous scratch file, or -1.
int scratch_fd(const char *name);

struct queued {
	int channel = 0;
	std::string id;
	std::string text; // after the identifier line, "NNNN" included
	int errors = 0;   // characters the chain marked '*'
	long frame = 0;   // about where "ZCZC" was read, in frames (to 1700)
};

struct decoded {
	std::string echo;
	std::vector<std::string> ids; // of the queued messages, in order
	std::vector<int> errors;
	std::vector<queued> messages;
	std::vector<int> open_length; // per channel; -1: no message open
};

struct decode_settings {
	int channels = 1;
	std::string chain = "specified"; // or "enhanced"
	unsigned stop_frame = 0;         // non-zero: the frames before it alone
};

// Empty error text on success.
std::string decode_recording(int rec, const decode_settings &s, decoded &out);
// One channel, the whole recording.
std::string decode_recording(int rec, const std::string &chain, decoded &out);

} // namespace sensitivity

#endif
