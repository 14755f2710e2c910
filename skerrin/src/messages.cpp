// Message record and the process-wide message queue.
//
// A record is filled one decoded character at a time: up to four
// identifier characters, up to two skipped characters (or a line feed)
// ending the identifier line, then the text, which grows in 1024-byte
// steps.  Finished records go into a FIFO guarded by lst_mutex: the
// acquisition thread puts, the protocol server thread gets, and the exit
// listing prints.  Times are seconds since 1970, levels dBm.
#include "messages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct tailhead head = TAILQ_HEAD_INITIALIZER(head);
pthread_mutex_t lst_mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

constexpr int kBufStep = 1024;

} // namespace

bool message_is_mark(char c)
{
	return c == 'a' || c == 'b' || c == 'c' || c == 'r' || c == 's';
}

MessageObj *message_create(int freq, time_t t)
{
	auto *m = static_cast<MessageObj *>(calloc(1, sizeof(MessageObj)));
	if (!m)
		return nullptr;
	m->buffer = static_cast<char *>(malloc(kBufStep));
	if (!m->buffer) {
		free(m);
		return nullptr;
	}
	m->signal = 0.0;
	m->msg_id_len = 0;
	m->buf_size = kBufStep;
	m->freq = freq;
	m->rcv_time = t;
	m->msg_id[4] = 0;
	m->length = 0;
	m->errors = 0;
	return m;
}

void message_reset(MessageObj *self, int freq, time_t t)
{
	self->signal = 0.0;
	self->rcv_time = t;
	self->msg_id_len = 0;
	self->freq = freq;
	// The whole identifier, so a restarted message never shows the old one.
	memset(self->msg_id, 0, sizeof(self->msg_id));
	self->length = 0;
	self->errors = 0;
}

void message_remove(MessageObj **self)
{
	if (!self || !*self)
		return;
	free((*self)->buffer);
	free(*self);
	*self = nullptr;
}

int message_addchr(MessageObj *self, char chr, int err)
{
	if (message_is_mark(chr))
		return 0;
	if (self->msg_id_len <= 5 && chr == ' ')
		return 0;
	if (self->msg_id_len <= 3) {
		self->msg_id[self->msg_id_len++] = chr;
		return err ? -1 : 0;
	}
	if (self->msg_id_len <= 5) {
		if (chr == '\n')
			self->msg_id_len = 6;
		else
			self->msg_id_len++;
		return 0;
	}
	if (self->length >= self->buf_size) {
		// Size and text stay as they were when the growth fails.
		char *nb = static_cast<char *>(realloc(self->buffer, self->buf_size + kBufStep));
		if (!nb) {
			fprintf(stderr, "Error could not realloc\n");
			return -2;
		}
		self->buffer = nb;
		self->buf_size += kBufStep;
	}
	self->buffer[self->length++] = chr;
	self->errors += err;
	return 0;
}

double message_get_err(MessageObj *self)
{
	return self->errors * 100.0 / self->length;
}

void message_print_hdr(MessageObj *self)
{
	char when[64];
	if (!ctime_r(&self->rcv_time, when))
		snprintf(when, sizeof(when), "(time %lld)\n", static_cast<long long>(self->rcv_time));
	printf("Freq: %d, Message id: %s, Length %d, Signal %f, No of errors %d (%2.2f %%) %s",
	       self->freq, self->msg_id, self->length, self->signal, self->errors,
	       message_get_err(self), when);
}

// The client text: header, body, trailer.  Never writes more than max_size
// bytes (the last one a terminating zero) and returns the characters
// written.  When the body does not fit, it is cut so the trailer with
// error rate, level and time still reaches the client whole.
int message_print_socket(MessageObj *self, char *buf, int max_size)
{
	if (!buf || max_size <= 0)
		return 0;

	int h = snprintf(buf, max_size, "%d\nZCZC\n%s\n", self->freq, self->msg_id);
	if (h < 0)
		h = 0;
	h = std::min(h, max_size - 1);

	char trailer[128];
	int t = snprintf(trailer, sizeof(trailer), "\nERROR:%2.2f\nSIGNAL:%2.2f\nTIME:%u\n",
			 message_get_err(self), self->signal,
			 static_cast<unsigned>(self->rcv_time));
	if (t < 0)
		t = 0;
	t = std::min<int>(t, sizeof(trailer) - 1);

	int room = max_size - 1 - h; // characters left after the header
	int body = std::min(self->length, std::max(0, room - t));
	memcpy(buf + h, self->buffer, body);
	room -= body;
	int tail = std::min(t, room);
	memcpy(buf + h + body, trailer, tail);
	buf[h + body + tail] = 0;
	return h + body + tail;
}

void message_list_init()
{
	pthread_mutex_init(&lst_mutex, nullptr);
	TAILQ_INIT(&head);
}

void message_list_put(MessageObj *msg)
{
	pthread_mutex_lock(&lst_mutex);
	TAILQ_INSERT_TAIL(&head, msg, entries);
	pthread_mutex_unlock(&lst_mutex);
}

void message_list_unget(MessageObj *msg)
{
	pthread_mutex_lock(&lst_mutex);
	TAILQ_INSERT_HEAD(&head, msg, entries);
	pthread_mutex_unlock(&lst_mutex);
}

MessageObj *message_list_get()
{
	pthread_mutex_lock(&lst_mutex);
	MessageObj *m = TAILQ_FIRST(&head);
	if (m)
		TAILQ_REMOVE(&head, m, entries);
	pthread_mutex_unlock(&lst_mutex);
	return m;
}

void msg_list_print()
{
	pthread_mutex_lock(&lst_mutex);
	int n = 0;
	MessageObj *m;
	TAILQ_FOREACH(m, &head, entries) {
		printf("%3d ", n++);
		message_print_hdr(m);
	}
	pthread_mutex_unlock(&lst_mutex);
}

int message_list_len()
{
	pthread_mutex_lock(&lst_mutex);
	int n = 0;
	MessageObj *m;
	TAILQ_FOREACH(m, &head, entries)
		n++;
	pthread_mutex_unlock(&lst_mutex);
	return n;
}
