// Complex baseband of up to three channels, at the frame rate, into the
// device stream's frames.
//
// Each slot that carries a signal has its level held near the daemon's
// gain target (a mean absolute value of 500 per component, averaged over
// about 0.15 s); the other slots carry low noise, as a receiver's quiet
// channel does.  Frames follow the stream layout: per slot a Q word then an
// I word, and the buffer-end mark on the last word of every 64th frame.
#ifndef STREAMCONV_FRAMER_H
#define STREAMCONV_FRAMER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "navsynth.h"

namespace streamconv {

constexpr int kSlots = 3;
// Mean absolute value of each component that the daemon's gain regulation
// aims at.
constexpr double kTargetLevel = 500.0;

class Framer {
public:
	// `carries[k]`: slot k gets a signal through put(); the noise of the
	// others follows from `seed`.
	Framer(const std::array<bool, kSlots> &carries, uint64_t seed);

	// Appends n complex samples (interleaved I, Q) to a carrying slot.
	void put(int slot, const float *iq, size_t n);
	// Writes the frames that every carrying slot has samples for.
	void emit(std::vector<unsigned char> &out);
	// At the end: writes what is left, a slot that ran short going on
	// with silence.
	void finish(std::vector<unsigned char> &out);
	uint64_t frames() const { return frames_; }

private:
	void write(size_t n, std::vector<unsigned char> &out);
	std::array<bool, kSlots> carries_;
	std::array<std::vector<float>, kSlots> queue_;
	std::array<double, kSlots> level_{};
	uint64_t level_n_ = 0;
	uint64_t frames_ = 0;
	navsynth::Gauss noise_;
};

} // namespace streamconv

#endif
