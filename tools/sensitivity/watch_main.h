// The sensitivity tool's watch mode (option -w): which parts to run and
// how long; see watch.h for the streams and cases.
#ifndef SENSITIVITY_WATCH_MAIN_H
#define SENSITIVITY_WATCH_MAIN_H

#include <string>

namespace sensitivity {

struct watch_options {
	std::string parts = "spm"; // s: streams, p: pairs, m: joined mid-message
	int seeds = 3;             // streams, seeds 1..seeds
	double minutes = 60;       // a stream's length
	int channels = 3;
	double rate = 1707.65;
	int case_seeds = 10;       // pairs and joined mid-message
	double tail_minutes = 10;  // dead input after the loss
	std::string csv;           // every stream message, when not empty
};

// Takes the watch mode's option -w (parts: s, p, m or "all"), -m
// minutes, -k channels, -N case seeds or -t tail minutes; empty, or what
// is wrong with the value.
std::string watch_option(int opt, const char *arg, watch_options &w);

// Runs the parts, printing their tables; 0 on success, 1 on failure.
int watch_mode(const watch_options &o);

} // namespace sensitivity

#endif
