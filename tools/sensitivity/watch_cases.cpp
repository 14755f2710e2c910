// The target cases beside the watch streams: two transmissions a second
// apart, and a recording joined mid-message that then goes dead; see
// watch.h.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sensitivity.h"
#include "stream_format.h"
#include "watch.h"

namespace sensitivity {

const double kMidstartSteps[5] = {1, 2, 5, 10, 30};

namespace {

// Whether the message was queued under its identifier with under 4 % of
// its text wrong.
bool queued_ok(const std::vector<queued> &got, const watch_message &m)
{
	const std::string ref = m.body();
	for (const queued &q : got)
		if (q.id == m.id && 100.0 * edit_distance(ref, q.text) / double(ref.size()) < 4.0)
			return true;
	return false;
}

watch_message as_message(uint64_t seed)
{
	return {message_id(seed), message_text(seed)};
}

// Appends constant frames (one channel): a dead input at a fixed level.
std::string append_constant(int fd, double seconds, double rate, long i, long q)
{
	using namespace stream_format;
	const off_t end = lseek(fd, 0, SEEK_END);
	if (end < 0)
		return std::string("cannot seek the recording: ") + strerror(errno);
	long frame = long(end / frame_bytes(1));
	const long count = std::lround(seconds * rate);
	std::vector<unsigned char> buf(size_t(frame_bytes(1)) * 4096);
	for (long done = 0; done < count;) {
		const long n = std::min<long>(4096, count - done);
		for (long k = 0; k < n; k++, frame++) {
			unsigned char *p = buf.data() + k * frame_bytes(1);
			put_word(p, to_sample(q));
			put_word(p + 2, to_sample(i));
			if ((frame + 1) % kFramesPerDeviceBuffer == 0)
				p[3] |= 0x80;
		}
		const size_t bytes = size_t(n) * size_t(frame_bytes(1));
		if (write(fd, buf.data(), bytes) != ssize_t(bytes))
			return std::string("cannot write the recording: ") + strerror(errno);
		done += n;
	}
	return "";
}

} // namespace

int run_pair(double offset_hz, uint64_t seed, const std::string &chain, std::string &err)
{
	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.seed = seed;
	cfg.chan.resize(1);
	cfg.chan[0].transmissions = {message_text(seed), message_text(seed + 1)};
	cfg.chan[0].snr_db = 10;
	cfg.chan[0].offset_hz = offset_hz;
	int rec = -1;
	err = record(cfg, rec);
	if (!err.empty())
		return 0;
	decoded d;
	err = decode_recording(rec, chain, d);
	close(rec);
	return queued_ok(d.messages, as_message(seed)) + queued_ok(d.messages, as_message(seed + 1));
}

std::string run_midstart(uint64_t seed, const std::string &tail, double tail_s, const std::string &chain,
			 midstart_result &out)
{
	out = midstart_result{};
	if (tail != "dc" && tail != "silence" && tail != "noise")
		return "unknown tail \"" + tail + "\"";
	navsynth::Gauss g(seed * 31337ull + 5);
	watch_tx tx;
	for (uint64_t k = 0; k < 3; k++)
		tx.messages.push_back(as_message(seed + k));
	const std::string text = tx.text();
	navsynth::TxParams &p = tx.params;
	p.gap_s = 0;
	p.snr_db = 10;
	p.offset_hz = -40 + 80 * g.uniform();
	p.ppm = -200 + 400 * g.uniform();

	// Where each character of the text starts (its shift included), and
	// where its repetition ends, in seconds of the transmission.
	const int phasing = int(std::lround(kWatchPhasingS * 100 / 14.0));
	const double slot = 7 / (100.0 * (1 + p.ppm * 1e-6));
	std::vector<double> begins(text.size()), ends(text.size());
	for (size_t k = 0; k < text.size(); k++) {
		const size_t before = navsynth::encode_text(text.substr(0, k)).codes.size();
		const size_t upto = navsynth::encode_text(text.substr(0, k + 1)).codes.size();
		begins[k] = 2.0 * double(phasing + before) * slot;
		ends[k] = (2.0 * double(phasing + upto + 1) + 2) * slot; // the RX copy, two pairs on
	}
	// Joined in the middle of the first message, lost in the middle of the
	// third.
	const size_t first_len = tx.messages[0].text.size();
	const size_t third_at = text.size() - tx.messages[2].text.size();
	p.skip_s = begins[first_len / 2];
	p.end_s = begins[third_at + tx.messages[2].text.size() / 2];
	std::string ref;
	for (size_t k = 0; k < text.size(); k++)
		if (begins[k] >= p.skip_s + 2 && ends[k] <= p.end_s)
			ref += text[k];

	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.seed = seed;
	cfg.phasing_s = kWatchPhasingS;
	cfg.idle_s = kWatchIdleS;
	cfg.chan.resize(1);
	navsynth::ChannelConfig &cc = cfg.chan[0];
	cc.snr_db = kWatchNoiseRefDb;
	cc.transmissions = {text};
	cc.tx = {p};
	cc.tail_s = tail == "noise" ? tail_s : 0;
	int rec = -1;
	std::string err = record(cfg, rec);
	if (!err.empty())
		return err;
	const double loss_s = p.end_s - p.skip_s;
	if (tail == "dc")
		err = append_constant(rec, tail_s, cfg.rate, 900, -400);
	else if (tail == "silence")
		err = append_constant(rec, tail_s, cfg.rate, 0, 0);

	decoded d;
	decode_settings ds;
	ds.chain = chain;
	auto at = [&](double s) { return unsigned(std::lround(s * cfg.rate)); };
	// Decoded to the loss, to each step after it, and to the end.
	int base = 0;
	for (int step = -1; step <= 5 && err.empty(); step++) {
		ds.stop_frame = step < 0 ? at(loss_s) : step < 5 ? at(loss_s + kMidstartSteps[step]) : 0;
		err = decode_recording(rec, ds, d);
		if (!err.empty())
			break;
		if (step < 0) {
			out.open_at_loss = d.open_length[0];
			base = int(d.echo.size());
			continue;
		}
		out.echo_after[step] = int(d.echo.size()) - base;
		if (step == 3)
			out.open_after10 = d.open_length[0];
	}
	close(rec);
	if (!err.empty())
		return err;
	out.open_at_end = d.open_length[0];
	out.ref_chars = int(ref.size());
	out.cer = double(fitting_distance(ref, strip_marks(d.echo))) / double(std::max<size_t>(ref.size(), 1));
	out.second_ok = queued_ok(d.messages, tx.messages[1]);
	return "";
}

} // namespace sensitivity
