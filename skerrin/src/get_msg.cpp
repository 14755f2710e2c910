// Message assembly.
//
// In: the characters delivered by the character decoder of one channel and
// the channel's signal level in dBm.  Out: 0 normally, -1 at the end of a
// transmission ("aaaa": the caller drops the phasing lock), -2 when a
// character could not be stored.  A message opens at "ZCZC" and at "NNNN"
// goes to the message queue when its error percentage is below max_err.
#include "get_msg.h"

#include <cstdio>
#include <cstring>

namespace {

// Compared over all four bytes; no terminator takes part.
constexpr char msg_start[4] = {'Z', 'C', 'Z', 'C'};
constexpr char msg_end[4] = {'N', 'N', 'N', 'N'};
constexpr char tansm_end[4] = {'a', 'a', 'a', 'a'};

bool window_is(const struct gt_msg_obj *msg_obj, const char (&seq)[4])
{
	return memcmp(msg_obj->shrt_buf, seq, 4) == 0;
}

} // namespace

int gt_msg_init(struct gt_msg_obj *msg_obj, int rfreq, int dbg_print)
{
	memset(msg_obj->shrt_buf, 0, sizeof msg_obj->shrt_buf);
	msg_obj->max_err = 100.0;
	msg_obj->time = 0;
	msg_obj->dbg_print = dbg_print;
	msg_obj->freq = rfreq;
	msg_obj->message = nullptr;
	return 0;
}

int gt_msg_reset(struct gt_msg_obj *msg_obj)
{
	if (msg_obj->message != nullptr)
		message_remove(&msg_obj->message);
	memset(msg_obj->shrt_buf, 0, sizeof msg_obj->shrt_buf);
	msg_obj->message = nullptr;
	return 0;
}

// "NNNN": the fourth 'N' completes the text; queue or drop the message.
static int gt_msg_end(struct gt_msg_obj *msg_obj, char ch, double signal)
{
	if (msg_obj->dbg_print)
		fprintf(stderr, "%s: Message end\n\n", "gt_msg");
	if (msg_obj->message == nullptr)
		return 0;
	message_addchr(msg_obj->message, ch, 0);
	msg_obj->message->signal = signal;
	if (msg_obj->dbg_print)
		message_print_hdr(msg_obj->message);
	// An empty text has no error percentage: never queue it.
	if (msg_obj->message->length > 0 && message_get_err(msg_obj->message) < msg_obj->max_err) {
		message_list_put(msg_obj->message);
		msg_obj->message = nullptr;
	} else {
		message_remove(&msg_obj->message);
	}
	msg_obj->message = nullptr;
	return 0;
}

int gt_msg(struct gt_msg_obj *msg_obj, char charater, double signal)
{
	memmove(msg_obj->shrt_buf, msg_obj->shrt_buf + 1, 3);
	msg_obj->shrt_buf[3] = charater;

	if (window_is(msg_obj, msg_start)) {
		if (msg_obj->dbg_print)
			fprintf(stderr, "%s: Message start\n\n", "gt_msg");
		const time_t t = msg_obj->time != 0 ? msg_obj->time : time(nullptr);
		if (msg_obj->message != nullptr)
			message_reset(msg_obj->message, msg_obj->freq, t);
		else
			msg_obj->message = message_create(msg_obj->freq, t);
		return 0;
	}
	if (window_is(msg_obj, tansm_end)) {
		if (msg_obj->dbg_print)
			fprintf(stderr, "%s: EOT\n\n", "gt_msg");
		return -1;
	}
	if (window_is(msg_obj, msg_end))
		return gt_msg_end(msg_obj, charater, signal);

	if (msg_obj->message == nullptr)
		return 0;
	const int r = message_addchr(msg_obj->message, charater, charater == '*' ? 1 : 0);
	if (r >= 0)
		return 0;
	if (r == -1) {
		if (msg_obj->dbg_print)
			fprintf(stderr, "%s: Message id corropted\n\n", "gt_msg");
		message_remove(&msg_obj->message);
		msg_obj->message = nullptr;
		return 0;
	}
	fprintf(stderr, "%s: char add error!!!\n\n", "gt_msg");
	return -2;
}
