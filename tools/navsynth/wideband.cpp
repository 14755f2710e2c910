// Wideband I/Q of the NAVTEX channels; see wideband.h.
#include "wideband.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

namespace navsynth {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNoiseBandHz = 500.0;
constexpr double kLevel = 0.2; // RMS magnitude of the band, full scale 1
// A channel's tones and keying sidebands reach this far from its centre.
constexpr double kReach = 300.0;
constexpr size_t kBlock = 8192;

} // namespace

std::string check_wideband(const Config &cfg, const WidebandConfig &wb)
{
	if (!(wb.rate >= 8000.0 && wb.rate <= 20e6))
		return "the I/Q rate must be 8000 to 20000000 samples per second";
	if (!(wb.centre_hz > 0 && wb.centre_hz < 1e10))
		return "the centre frequency must be above 0 Hz";
	for (size_t ch = 0; ch < cfg.chan.size(); ch++) {
		if (cfg.chan[ch].transmissions.empty())
			continue;
		const double off = kChannelHz[ch] + cfg.chan[ch].offset_hz - wb.centre_hz;
		if (std::fabs(off) + kReach > 0.5 * wb.rate) {
			char buf[240];
			snprintf(buf, sizeof buf,
				 "channel %zu (%g kHz) lies outside the capture: %g samples per second centred at "
				 "%g kHz cover %g to %g kHz",
				 ch, kChannelHz[ch] / 1000, wb.rate, wb.centre_hz / 1000,
				 (wb.centre_hz - 0.5 * wb.rate) / 1000, (wb.centre_hz + 0.5 * wb.rate) / 1000);
			return buf;
		}
	}
	return "";
}

std::string render_wideband(const Config &cfg, const WidebandConfig &wb,
			    const std::function<std::string(const float *iq, size_t n)> &sink, FILE *progress)
{
	std::string err = check_wideband(cfg, wb);
	if (!err.empty())
		return err;
	struct Placed {
		std::unique_ptr<KeyedSignal> sig;
		std::complex<double> ph{1.0, 0.0}, step;
		bool done = false;
	};
	std::vector<Placed> placed;
	double sigma = 0, power = 0;
	for (size_t ch = 0; ch < cfg.chan.size(); ch++) {
		const ChannelConfig &cc = cfg.chan[ch];
		if (cc.transmissions.empty())
			continue;
		Gauss g(cfg.seed * 1000003ull + ch * 7919ull + 17);
		Placed p;
		p.sig = std::make_unique<KeyedSignal>(cfg, static_cast<int>(ch), wb.rate, g);
		if (!p.sig->error().empty())
			return p.sig->error();
		// The carrier offset is the signal's own; the channel sits at its
		// frequency relative to the capture's centre.
		p.step = std::polar(1.0, 2 * kPi * (kChannelHz[ch] - wb.centre_hz) / wb.rate);
		placed.push_back(std::move(p));
		if (cc.snr_db < 1e8)
			sigma = std::max(sigma, std::sqrt(cc.amplitude * cc.amplitude * wb.rate /
							  (2 * kNoiseBandHz * std::pow(10.0, cc.snr_db / 10.0))));
		power += cc.amplitude * cc.amplitude;
	}
	if (placed.empty())
		sigma = cfg.chan.empty() ? 1.0 : std::max(cfg.chan[0].noise_only_sigma, 1e-9);
	const double scale = kLevel / std::sqrt(power + 2 * sigma * sigma);

	Gauss noise(cfg.seed * 2862933555777941757ull + 3037000493ull);
	std::vector<float> block(2 * kBlock);
	uint64_t total = 0;
	double next_report = 60.0 * wb.rate;
	// Noise alone (no channel with messages) lasts one gap.
	long noise_only = placed.empty() ? std::max(1L, std::lround(cfg.gap_s * wb.rate)) : 0;
	for (;;) {
		size_t n = 0;
		bool any = false;
		for (; n < kBlock; n++) {
			double re = 0, im = 0;
			bool live = noise_only > 0;
			if (noise_only > 0)
				noise_only--;
			for (Placed &p : placed) {
				double a = 0, b = 0;
				if (!p.done && !p.sig->next(a, b))
					p.done = true;
				if (p.done)
					continue;
				live = true;
				re += a * p.ph.real() - b * p.ph.imag();
				im += a * p.ph.imag() + b * p.ph.real();
				p.ph *= p.step;
			}
			if (!live)
				break;
			any = true;
			re += sigma * noise.next();
			im += sigma * noise.next();
			block[2 * n] = static_cast<float>(re * scale);
			block[2 * n + 1] = static_cast<float>(im * scale);
		}
		for (Placed &p : placed)
			p.ph /= std::abs(p.ph);
		if (n > 0) {
			err = sink(block.data(), n);
			if (!err.empty())
				return err;
			total += n;
		}
		if (progress && static_cast<double>(total) >= next_report) {
			fprintf(progress, "navsynth: %.0f s of I/Q written\n", static_cast<double>(total) / wb.rate);
			next_report += 60.0 * wb.rate;
		}
		if (!any || n < kBlock)
			break;
	}
	if (progress)
		fprintf(progress, "navsynth: %llu I/Q samples (%.1f s at %g per second) centred at %g Hz\n",
			static_cast<unsigned long long>(total), static_cast<double>(total) / wb.rate, wb.rate,
			wb.centre_hz);
	return "";
}

} // namespace navsynth
