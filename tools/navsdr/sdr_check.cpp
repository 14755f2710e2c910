// The I/Q path end to end: synthesis, quantisation, conversion, decoding,
// scoring.
#include "sdr_check.h"

#include "check.h" // navaudio's: score_channel
#include "navsynth.h"
#include "wideband.h"

namespace navsdr_check {

std::string run_iq_case(const iq_case &c, sensitivity::outcome &out, navsdr::ChannelReport *report)
{
	out = sensitivity::outcome{};
	navsynth::Config cfg;
	cfg.channels = 3;
	cfg.seed = c.cond.seed;
	cfg.chan.resize(3);
	navsynth::ChannelConfig &ch = cfg.chan[static_cast<size_t>(c.slot)];
	ch.transmissions = {sensitivity::message_text(c.cond.seed)};
	ch.snr_db = c.cond.snr_db;
	ch.offset_hz = c.cond.offset_hz;
	ch.ppm = c.cond.ppm;
	ch.fading_hz = c.cond.fading_hz;
	navsynth::WidebandConfig wb;
	wb.rate = c.iq_rate;
	wb.centre_hz = c.centre_hz;

	navsdr::Settings s;
	s.in_rate = c.iq_rate;
	s.centre_hz = c.centre_hz + c.centre_error_hz;
	s.frame_rate = c.cond.rate;
	s.seed = c.cond.seed;
	std::string err = navsdr::check(s);
	if (!err.empty())
		return "navsdr: " + err;
	navsdr::Converter conv(s, 600.0);
	if (!conv.error().empty())
		return "navsdr: " + conv.error();
	// Quantised in the sample format and read back as the program reads it.
	iq_format::Decoder dec(c.format);
	std::vector<unsigned char> bytes;
	std::vector<float> back, stream;
	std::vector<unsigned char> frames;
	err = navsynth::render_wideband(cfg, wb, [&](const float *iq, size_t n) -> std::string {
		bytes.clear();
		for (size_t k = 0; k < 2 * n; k++)
			iq_format::encode_value(c.format, iq[k], bytes);
		back.clear();
		dec.decode(bytes.data(), bytes.size(), back);
		conv.push(back.data(), back.size() / 2, frames);
		return "";
	}, nullptr);
	if (!err.empty())
		return "navsynth: " + err;
	conv.finish(frames);
	if (report)
		*report = conv.report()[static_cast<size_t>(c.slot)];

	return navaudio_check::score_channel(frames, c.slot, c.cond, out);
}

} // namespace navsdr_check
