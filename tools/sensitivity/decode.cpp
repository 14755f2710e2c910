// The daemon's chain in this process; see decode.h.
#include "decode.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "enh_chain.h"
#include "messages.h"
#include "skerrin.h"
#include "stream_format.h"
#include "write_all.h"

namespace sensitivity {

namespace {

std::string read_fd(int fd)
{
	std::string s;
	char buf[8192];
	lseek(fd, 0, SEEK_SET);
	for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
		s.append(buf, size_t(n));
	return s;
}

// Reception times count from here (a time of 0 would mean "now"); the
// daemon stamps them in whole seconds of 1700 frames.
constexpr time_t kTimeBase = 1000000000;
constexpr long kStampFrames = 1700;

} // namespace

int scratch_fd(const char *name)
{
	int fd = memfd_create(name, 0);
	if (fd >= 0)
		return fd;
	FILE *f = tmpfile();
	if (!f)
		return -1;
	fd = dup(fileno(f));
	fclose(f);
	return fd;
}

std::string decode_recording(int rec, const std::string &chain, decoded &out)
{
	decode_settings s;
	s.chain = chain;
	return decode_recording(rec, s, out);
}

// The first `frames` frames of the recording in a scratch file of their
// own (the daemon's stop sample would report every block it drops on the
// echo's output).
int prefix(int rec, unsigned frames, int channels)
{
	int fd = scratch_fd("prefix");
	if (fd < 0)
		return -1;
	size_t left = size_t(frames) * size_t(stream_format::frame_bytes(channels));
	std::vector<char> buf(65536);
	lseek(rec, 0, SEEK_SET);
	while (left > 0) {
		const ssize_t n = read(rec, buf.data(), std::min(left, buf.size()));
		if (n <= 0)
			break;
		if (!write_all(fd, buf.data(), size_t(n))) {
			close(fd);
			return -1;
		}
		left -= size_t(n);
	}
	lseek(fd, 0, SEEK_SET);
	return fd;
}

std::string decode_recording(int rec, const decode_settings &s, decoded &out)
{
	if (s.stop_frame != 0) {
		decode_settings whole = s;
		whole.stop_frame = 0;
		const int part = prefix(rec, s.stop_frame, s.channels);
		if (part < 0)
			return std::string("cannot copy the recording: ") + strerror(errno);
		std::string err = decode_recording(part, whole, out);
		close(part);
		return err;
	}
	out = decoded{};
	lseek(rec, 0, SEEK_SET);
	// The daemon's start-up lines and character echo go to standard
	// output; both are caught, the echo alone kept.
	int echo = scratch_fd("echo");
	if (echo < 0)
		return std::string("cannot make a scratch file: ") + strerror(errno);
	std::string err;
	fflush(stdout);
	const int saved = dup(1);
	dup2(echo, 1);
	skerrin_all *o = skerrin_init(s.channels, 0x08, 1700);
	if (o) {
		// The daemon's defaults: lock after more than two phasing periods,
		// queue every message whatever its errors.
		int minphasings = 2;
		double max_err = 100.0;
		skerrin_all_set(o, 0, &minphasings);
		skerrin_all_set(o, 2, &max_err);
		if (s.chain == "enhanced" && skerrin_set_chain(o, SKERRIN_CHAIN_ENHANCED) != 0)
			err = "cannot make the enhanced chain";
		fflush(stdout);
		ftruncate(echo, 0);
		lseek(echo, 0, SEEK_SET);
		o->input_fd = rec;
		o->copy_fd = -1;
		o->start_time = kTimeBase;
		if (err.empty())
			decode_i_q_sig(o);
	}
	fflush(stdout);
	dup2(saved, 1);
	close(saved);
	if (!o) {
		close(echo);
		return "skerrin_init failed";
	}
	out.echo = read_fd(echo);
	close(echo);

	for (int i = 0; i < o->no_of_chan; i++) {
		const MessageObj *m = o->channels[i].msg_obj.message;
		out.open_length.push_back(m ? m->length : -1);
		gt_msg_reset(&o->channels[i].msg_obj);
	}
	while (MessageObj *m = message_list_get()) {
		queued q;
		for (int i = 0; i < o->no_of_chan; i++)
			if (o->channels[i].msg_obj.freq == m->freq)
				q.channel = i;
		q.id.assign(m->msg_id, size_t(std::max(0, std::min(m->msg_id_len, 4))));
		if (m->buffer && m->length > 0)
			q.text.assign(m->buffer, size_t(m->length));
		q.errors = m->errors;
		q.frame = m->rcv_time >= kTimeBase ? long(m->rcv_time - kTimeBase) * kStampFrames : 0;
		out.ids.push_back(q.id);
		out.errors.push_back(q.errors);
		out.messages.push_back(q);
		message_remove(&m);
	}
	for (int i = 0; i < o->no_of_chan; i++)
		enh_cha_free(o->channels[i].enh);
	delete[] o->channels;
	delete o;
	return err;
}

} // namespace sensitivity
