// The audio path end to end: synthesis, conversion, decoding, scoring;
// and the sweep that sets a path against the direct stream.
#include "check.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "crossing.h"
#include "messages.h"
#include "navsynth.h"
#include "skerrin.h"
#include "write_all.h"

namespace navaudio_check {

std::string convert(const std::vector<float> &audio, const navaudio::Settings &s,
		    std::vector<unsigned char> &stream)
{
	stream.clear();
	std::string err = navaudio::check(s);
	if (!err.empty())
		return err;
	navaudio::Converter conv(s);
	if (!conv.error().empty())
		return conv.error();
	// In blocks, as the program reads its input.
	constexpr size_t kBlock = 4096;
	for (size_t k = 0; k < audio.size(); k += kBlock)
		conv.push(audio.data() + k, std::min(kBlock, audio.size() - k), stream);
	conv.finish(stream);
	return "";
}

std::string decode_channel(const std::vector<unsigned char> &stream, int ch, decoded &out, const std::string &chain)
{
	using namespace stream_format;
	out = decoded{};
	// The channel alone, with the buffer-end marks of the frames, so that
	// the echo holds its characters only.
	const size_t fb = static_cast<size_t>(frame_bytes(navaudio::kChannels));
	std::vector<unsigned char> one;
	one.reserve(stream.size() / navaudio::kChannels);
	for (size_t f = 0; f + fb <= stream.size(); f += fb) {
		const unsigned char *p = stream.data() + f + 4 * static_cast<size_t>(ch);
		one.insert(one.end(), p, p + 4);
		if (stream[f + fb - 1] & 0x80)
			one.back() |= 0x80;
		else
			one.back() &= 0x7f;
	}
	int rec = sensitivity::scratch_fd("stream");
	if (rec < 0 || !write_all(rec, one.data(), one.size())) {
		if (rec >= 0)
			close(rec);
		return std::string("cannot make a scratch file: ") + strerror(errno);
	}
	std::string err = sensitivity::decode_recording(rec, chain, out);
	close(rec);
	return err;
}

std::string score_channel(const std::vector<unsigned char> &stream, int ch, const sensitivity::condition &cond,
			  sensitivity::outcome &out)
{
	decoded d;
	std::string err = decode_channel(stream, ch, d, cond.chain);
	if (!err.empty())
		return err;
	const std::string id = sensitivity::message_id(cond.seed);
	for (size_t k = 0; k < d.ids.size(); k++)
		if (!out.msg_ok && d.ids[k] == id) {
			out.msg_ok = true;
			out.msg_errors = d.errors[k];
		}
	const std::string ref = sensitivity::message_text(cond.seed);
	out.locked = !d.echo.empty();
	out.ref_chars = static_cast<int>(ref.size());
	out.wrong_chars = sensitivity::fitting_distance(ref, sensitivity::strip_marks(d.echo));
	return "";
}

std::string run_audio_case(const audio_case &c, sensitivity::outcome &out, double *centre_used)
{
	out = sensitivity::outcome{};
	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.seed = c.cond.seed;
	cfg.chan.resize(1);
	navsynth::ChannelConfig &ch = cfg.chan[0];
	ch.transmissions = {sensitivity::message_text(c.cond.seed)};
	ch.snr_db = c.cond.snr_db;
	ch.offset_hz = c.cond.offset_hz;
	ch.ppm = c.cond.ppm;
	ch.fading_hz = c.cond.fading_hz;
	navsynth::AudioConfig ac;
	ac.rate = c.audio_rate;
	ac.centre_hz = c.centre_hz;
	ac.lower = c.lower;
	std::vector<float> audio;
	std::string err = navsynth::render_audio(cfg, 0, ac, audio);
	if (!err.empty())
		return "navsynth: " + err;

	navaudio::Settings s;
	s.in_rate = c.audio_rate;
	s.centre_hz = c.centre_hz;
	s.invert = c.lower;
	s.frame_rate = c.cond.rate;
	s.seed = c.cond.seed;
	if (c.find_centre) {
		navaudio::CentreFinder finder(c.audio_rate);
		finder.push(audio.data(), audio.size());
		if (!finder.result(s.centre_hz))
			return "no tone pair found";
	}
	if (centre_used)
		*centre_used = s.centre_hz;
	std::vector<unsigned char> stream;
	err = convert(audio, s, stream);
	if (!err.empty())
		return "navaudio: " + err;
	return score_channel(stream, s.channel, c.cond, out);
}

bool compare_paths(const char *program, const char *path, const std::string &sweep, const std::string &chain,
		   double lo, double hi, double step, int seeds, const path_runner &run_path, double &direct_db,
		   double &path_db)
{
	std::vector<double> snrs, cer_direct, cer_path;
	printf("| SNR dB | CER direct %% | CER %s %% | messages direct | messages %s |\n"
	       "|---|---|---|---|---|\n", path, path);
	for (double snr = lo; snr <= hi + 1e-9; snr += step) {
		double sum_d = 0, sum_p = 0;
		int msg_d = 0, msg_p = 0;
		for (int seed = 1; seed <= seeds; seed++) {
			sensitivity::condition cond;
			cond.sweep = sweep;
			cond.chain = chain;
			cond.snr_db = snr;
			cond.seed = static_cast<uint64_t>(seed);
			sensitivity::outcome od, op;
			std::string err = sensitivity::run_case(cond, od);
			if (err.empty())
				err = run_path(cond, op);
			if (!err.empty()) {
				fprintf(stderr, "%s: SNR %g dB, seed %d: %s\n", program, snr, seed, err.c_str());
				return false;
			}
			sum_d += od.cer();
			sum_p += op.cer();
			msg_d += od.msg_ok;
			msg_p += op.msg_ok;
		}
		snrs.push_back(snr);
		cer_direct.push_back(sum_d / seeds);
		cer_path.push_back(sum_p / seeds);
		printf("| %g | %.2f | %.2f | %d/%d | %d/%d |\n", snr, 100 * cer_direct.back(), 100 * cer_path.back(),
		       msg_d, seeds, msg_p, seeds);
		fflush(stdout);
	}
	direct_db = sensitivity::crossing(snrs, cer_direct);
	path_db = sensitivity::crossing(snrs, cer_path);
	return true;
}

} // namespace navaudio_check
