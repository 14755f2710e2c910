// One channel's keyed tones sample by sample, and the Rayleigh fading
// they pass through; see KeyedSignal in navsynth.h.
#include <algorithm>
#include <cmath>

#include "navsynth.h"

namespace navsynth {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kShiftHz = 85.0; // each tone's distance from the centre
constexpr double kBaud = 100.0;

} // namespace

// Flat Rayleigh fading as a sum of sinusoids with random arrival angles.
struct Fader {
	static constexpr int kPaths = 16;
	double w[kPaths], ph[kPaths];
	bool on = false;
	Fader(double doppler_hz, Gauss &g)
	{
		on = doppler_hz > 0;
		for (int m = 0; m < kPaths; m++) {
			w[m] = 2 * kPi * doppler_hz * std::cos(2 * kPi * g.uniform());
			ph[m] = 2 * kPi * g.uniform();
		}
	}
	void gain(double t, double &re, double &im) const
	{
		re = on ? 0.0 : 1.0;
		im = 0.0;
		if (!on)
			return;
		for (int m = 0; m < kPaths; m++) {
			re += std::cos(w[m] * t + ph[m]);
			im += std::sin(w[m] * t + ph[m]);
		}
		re /= std::sqrt(double(kPaths));
		im /= std::sqrt(double(kPaths));
	}
};

KeyedSignal::KeyedSignal(const Config &cfg, int ch, double rate, Gauss &g)
	: rate_(rate), amplitude_(cfg.chan[static_cast<size_t>(ch)].amplitude),
	  offset_hz_(cfg.chan[static_cast<size_t>(ch)].offset_hz)
{
	const ChannelConfig &cc = cfg.chan[static_cast<size_t>(ch)];
	fader_ = std::make_unique<Fader>(cc.fading_hz, g);
	const int phasing = static_cast<int>(std::lround(cfg.phasing_s * kBaud / 14.0));
	const int idle = static_cast<int>(std::lround(cfg.idle_s * kBaud / 14.0));
	bit_s_ = 1.0 / (kBaud * (1.0 + cc.ppm * 1e-6));
	gap_n_ = std::max(0L, std::lround(cfg.gap_s * rate));
	gap_left_ = gap_n_;
	for (size_t t = 0; t < cc.transmissions.size(); t++) {
		Encoded e = encode_text(cc.transmissions[t]);
		if (!e.error.empty()) {
			error_ = "channel " + std::to_string(ch) + ", message " + std::to_string(t + 1) + ": " + e.error;
			sent_.clear();
			return;
		}
		sent_.push_back(interleave(e.codes, phasing, idle));
	}
}

KeyedSignal::~KeyedSignal() = default;

bool KeyedSignal::next(double &re, double &im)
{
	for (;;) {
		if (gap_left_ > 0) {
			gap_left_--;
			index_++;
			re = im = 0.0;
			return true;
		}
		if (keyed_) {
			const std::vector<Code> &sent = sent_[t_];
			const double tt = static_cast<double>(n_) / rate_;
			const size_t k = static_cast<size_t>(tt / bit_s_);
			if (k < sent.size() * 7) {
				const bool one = (sent[k / 7].bits >> (k % 7)) & 1;
				const double f = offset_hz_ + (one ? kShiftHz : -kShiftHz);
				phase_ += 2 * kPi * f / rate_;
				if (phase_ > kPi)
					phase_ -= 2 * kPi;
				else if (phase_ < -kPi)
					phase_ += 2 * kPi;
				double fr, fi;
				fader_->gain(static_cast<double>(index_) / rate_, fr, fi);
				const double a = amplitude_ * std::cos(phase_), b = amplitude_ * std::sin(phase_);
				re = a * fr - b * fi;
				im = a * fi + b * fr;
				n_++;
				index_++;
				return true;
			}
			keyed_ = false;
			t_++;
			gap_left_ = gap_n_;
			continue;
		}
		if (t_ >= sent_.size())
			return false;
		keyed_ = true;
		n_ = 0;
	}
}

} // namespace navsynth
