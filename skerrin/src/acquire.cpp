// Acquisition loop and per-channel dispatch.
//
// Reads blocks of no_of_chan * 512 bytes from the input (radio device or
// recording), cuts them into frames of 4 * no_of_chan bytes (per channel a
// Q word then an I word, 16-bit little-endian, 15-bit unsigned samples,
// bit 15 a mark), runs the gain regulation of every channel when the
// frame's last word is marked, and hands each channel's pair to its
// decoding chain.  Frames are numbered from 1 (or from the ignore count);
// one second is 1700 frames.  Side jobs: copy file or export records,
// real-time pace, stop sample, start-time clock, progress/status lines.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "decode_char.h"
#include "stream_format.h"
#include "skerrin.h"
#include "write_all.h"

namespace {

constexpr size_t kInbufSize = 347904;
constexpr unsigned kFramesPerSecond = 1700;
constexpr unsigned kFramesPerMinute = 60 * kFramesPerSecond;
constexpr unsigned kDelayEvery = 14;

} // namespace

int decode_chan(skerrin_cha *channel, icomplex iq, unsigned int samples)
{
	int detect = interp_iq(&channel->s_iq, iq);
	int bit_samp_no = detect_pha(&channel->det_obj, detect, static_cast<int>(samples));

	if (bit_samp_no < 0) {
		sample_bit_reset(&channel->bit_obj);
		gt_msg_reset(&channel->msg_obj);
		return channel->det_obj.avg_prev_ph / 1000;
	}

	if (sample_bit(&channel->bit_obj, detect, bit_samp_no)) {
		char ch = decode_char(&channel->bit_obj, channel->det_obj.bitsampleno);
		if (ch != 0) {
			double dbm = channel->s_iq.signal_dbm.load(std::memory_order_relaxed);
			if (gt_msg(&channel->msg_obj, ch, dbm) == -1)
				detect_pha_eos(&channel->det_obj);
		}
	}
	return bit_samp_no * 1024;
}

int decode_wri_dbg(skerrin_cha *channel, int dbgval, icomplex iq, int fd)
{
	if (fd < 0)
		return 0;
	const int vals[6] = {iq.real, iq.imag,
			     channel->s_iq.iqbuffer[0].real, channel->s_iq.iqbuffer[0].imag,
			     channel->s_iq.detect / 1000, dbgval};
	unsigned char rec[12];
	for (int k = 0; k < 6; k++)
		stream_format::put_word(rec + 2 * k, static_cast<uint16_t>(vals[k] & 0xffff));
	return write_all(fd, rec, sizeof(rec)) ? 0 : -1;
}

int decode_i_q_sig(skerrin_all *skerrin_obj)
{
	skerrin_all &o = *skerrin_obj;
	const int nch = o.no_of_chan;
	const size_t block = static_cast<size_t>(nch) * 512;
	const size_t fbytes = static_cast<size_t>(stream_format::frame_bytes(nch));

	// Opened for the operator's tools; nothing is written into it.
	int dbg_fd = -1;
	if (o.dbglev & 0x40) {
		dbg_fd = open("debug.raw", O_WRONLY | O_CREAT, 0777);
		if (dbg_fd < 0)
			fprintf(stderr, "%s: Error opening file: debug.raw : %s\n",
				"decode_i_q_sig", strerror(errno));
	}

	std::unique_ptr<unsigned char[]> inbuf(new unsigned char[kInbufSize]);
	uint16_t twochan[768];
	unsigned int samples = 0;
	int do_reg_amp = 0;
	// Fixed for the whole run; held here so the per-channel loop does not
	// reload them after every call into the chain.
	skerrin_cha *const channels = o.channels;
	const int export_to = o.copy_fd >= 0 ? o.export_cha : -1;
	const bool status_lines = (o.dbglev & 0x02) != 0;
	const bool enhanced = o.chain == SKERRIN_CHAIN_ENHANCED;

	// A read may end inside a frame (pipes deliver odd chunks): those bytes
	// stay at the front of the buffer and the next read completes them.
	size_t carry = 0;
	// Bytes at the end of the carry not yet written to the copy file
	// (a read too short to hold any frame start).
	size_t uncopied = 0;

	// Said once: a copy that cannot be written (full disk, a pipe whose
	// reader has gone) is given up on, never the decoding.
	bool copy_failed = false;
	auto copy = [&](const unsigned char *p, size_t len) {
		if (!write_all(o.copy_fd, p, len) && !copy_failed) {
			copy_failed = true;
			fprintf(stderr, "%s: Error writing copy file: %s\n", "decode_i_q_sig",
				strerror(errno));
		}
	};
	bool first_frame = true;

	for (;;) {
		ssize_t r = read(o.input_fd, inbuf.get() + carry, block);
		if (r < 0 && errno == EINTR)
			continue;
		if (r < 0) {
			// Not the end of a recording: an input that cannot be read
			// (a folder, say) must not pass for an empty one.
			fprintf(stderr, "%s: Error reading input: %s\n", "decode_i_q_sig",
				strerror(errno));
			if (dbg_fd >= 0)
				close(dbg_fd);
			return -1;
		}
		if (r == 0)
			break;
		const size_t n = carry + static_cast<size_t>(r);
		const size_t copy_from = carry - uncopied;
		bool first = true;
		bool copied = false;
		bool stopped = false;
		size_t off = 0;

		for (; off + fbytes <= n; off += fbytes) {
			samples++;
			// Only the first frame takes the ignore count: after the
			// counter wraps (29 days on the device) it counts on from 0.
			if (first_frame && samples < o.samp_ignored)
				samples = o.samp_ignored;
			first_frame = false;
			if (o.samp_stop != 0 && samples > o.samp_stop) {
				printf("Reaced stop sample %u , %u\n", o.samp_stop, samples);
				stopped = true;
				break;
			}
			if (first) {
				first = false;
				if (o.copy_fd >= 0 && o.export_cha < 0) {
					copy(inbuf.get() + copy_from, n - copy_from);
					copied = true;
				}
			}

			const unsigned char *f = inbuf.get() + off;
			do_reg_amp = (stream_format::get_word(f + 2 * (2 * nch - 1)) & stream_format::kMarkBit) != 0;
			for (int w = 0; w < 2 * nch; w++)
				twochan[w] = stream_format::get_word(f + 2 * w) & stream_format::kSampleMask;

			const bool second = samples % kFramesPerSecond == 0;
			if ((o.dbglev & 0x02) && samples % kFramesPerMinute == 0)
				printf("%d min... ", samples / kFramesPerMinute);
			if (o.delay_pr_samp != 0 && samples % kDelayEvery == 0)
				usleep(kDelayEvery * static_cast<unsigned>(o.delay_pr_samp));

			const bool stamp = o.start_time != 0 && second;
			const bool status_line = status_lines && second;
			for (int i = 0; i < nch; i++) {
				skerrin_cha *ch = &channels[i];
				if (stamp)
					ch->msg_obj.time = o.start_time + samples / kFramesPerSecond;
				if (do_reg_amp)
					amp_reg(&ch->s_iq, i, o.input_fd);
				icomplex iq{twochan[2 * i + 1], twochan[2 * i]};
				int res = enhanced ? decode_chan_enh(ch, iq, samples) : decode_chan(ch, iq, samples);
				if (i == export_to)
					decode_wri_dbg(ch, res, iq, o.copy_fd);
				if (status_line)
					printf("ch%d : %4d , (%3d/%3d) %3.1f; ", i,
					       amp_get(&ch->s_iq, i, o.input_fd),
					       ch->s_iq.amp_i, ch->s_iq.amp_r,
					       ch->s_iq.signal_dbm.load(std::memory_order_relaxed));
			}
			if ((o.dbglev & 0x02) && second)
				printf("\n");
		}

		if (stopped) {
			// The rest of the block is dropped, a partial frame with it.
			carry = 0;
			uncopied = 0;
			continue;
		}
		carry = n - off;
		memmove(inbuf.get(), inbuf.get() + off, carry);
		uncopied = copied ? 0 : std::min(carry, uncopied + static_cast<size_t>(r));
	}

	if (carry > 0) {
		fprintf(stderr, "%s: input ended inside a frame: %zu bytes dropped\n",
			"decode_i_q_sig", carry);
		// Not decoded, but the copy stays byte for byte what was read.
		if (uncopied > 0 && o.copy_fd >= 0 && o.export_cha < 0)
			copy(inbuf.get() + carry - uncopied, uncopied);
	}
	if (dbg_fd >= 0)
		close(dbg_fd);
	// The counter is unsigned; a negative result would read as a failure.
	return samples > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(samples);
}
