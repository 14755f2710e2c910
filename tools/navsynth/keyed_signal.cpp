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

KeyedSignal::KeyedSignal(const Config &cfg, int ch, double rate, Gauss &g) : rate_(rate)
{
	const ChannelConfig &cc = cfg.chan[static_cast<size_t>(ch)];
	faders_.push_back(std::make_unique<Fader>(cc.fading_hz, g));
	const int phasing = static_cast<int>(std::lround(cfg.phasing_s * kBaud / 14.0));
	const int idle = static_cast<int>(std::lround(cfg.idle_s * kBaud / 14.0));
	const bool own = !cc.tx.empty();
	if (own && cc.tx.size() != cc.transmissions.size()) {
		error_ = "channel " + std::to_string(ch) + ": transmission settings do not match the transmissions";
		return;
	}
	auto samples = [&](double s) { return std::max(0L, std::lround(s * rate)); };
	for (size_t t = 0; t < cc.transmissions.size(); t++) {
		Encoded e = encode_text(cc.transmissions[t]);
		if (!e.error.empty()) {
			error_ = "channel " + std::to_string(ch) + ", message " + std::to_string(t + 1) + ": " + e.error;
			sent_.clear();
			keying_.clear();
			return;
		}
		sent_.push_back(interleave(e.codes, phasing, idle));
		Keying k{cc.amplitude, cc.offset_hz, 1.0 / (kBaud * (1.0 + cc.ppm * 1e-6)), samples(cfg.gap_s), 0, -1,
			 faders_[0].get()};
		if (own) {
			const TxParams &p = cc.tx[t];
			if (p.snr_db < 1e8 && cc.snr_db < 1e8)
				k.amplitude *= std::pow(10.0, (p.snr_db - cc.snr_db) / 20.0);
			k.offset_hz = p.offset_hz;
			k.bit_s = 1.0 / (kBaud * (1.0 + p.ppm * 1e-6));
			k.gap_n = samples(p.gap_s);
			k.skip = samples(p.skip_s);
			k.end = p.end_s > 0 ? samples(p.end_s) : -1;
			Gauss fg(cfg.seed * 6364136223846793005ull + static_cast<uint64_t>(ch) * 1442695040888963407ull + t);
			faders_.push_back(std::make_unique<Fader>(p.fading_hz, fg));
			k.fader = faders_.back().get();
		}
		keying_.push_back(k);
	}
	tail_n_ = own ? samples(cc.tail_s) : samples(cfg.gap_s);
	// Without settings of their own the first gap is the channel's.
	gap_left_ = keying_.empty() ? samples(cfg.gap_s) : keying_[0].gap_n;
}

KeyedSignal::~KeyedSignal() = default;

void KeyedSignal::start_gap()
{
	gap_left_ = t_ < keying_.size() ? keying_[t_].gap_n : tail_n_;
}

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
			const Keying &kk = keying_[t_];
			const double tt = static_cast<double>(n_) / rate_;
			const size_t k = static_cast<size_t>(tt / kk.bit_s);
			if (k < sent.size() * 7 && n_ != kk.end) {
				const bool one = (sent[k / 7].bits >> (k % 7)) & 1;
				const double f = kk.offset_hz + (one ? kShiftHz : -kShiftHz);
				phase_ += 2 * kPi * f / rate_;
				if (phase_ > kPi)
					phase_ -= 2 * kPi;
				else if (phase_ < -kPi)
					phase_ += 2 * kPi;
				n_++;
				if (n_ <= kk.skip)
					continue; // before where the recording joins it
				double fr, fi;
				kk.fader->gain(static_cast<double>(index_) / rate_, fr, fi);
				const double a = kk.amplitude * std::cos(phase_), b = kk.amplitude * std::sin(phase_);
				re = a * fr - b * fi;
				im = a * fi + b * fr;
				index_++;
				return true;
			}
			keyed_ = false;
			spans_.back().second = static_cast<size_t>(index_);
			t_++;
			start_gap();
			continue;
		}
		if (t_ >= sent_.size())
			return false;
		keyed_ = true;
		n_ = 0;
		spans_.emplace_back(static_cast<size_t>(index_), static_cast<size_t>(index_));
	}
}

} // namespace navsynth
