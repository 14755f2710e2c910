// Message record and the process-wide message queue.
//
// A record holds one received message: frequency, identifier, text, error
// count, signal level and reception time.  The assembler fills it character
// by character; finished records go into a FIFO guarded by lst_mutex, which
// the protocol server empties one message per request.
#ifndef SKERRIN_MESSAGES_H
#define SKERRIN_MESSAGES_H

#include <pthread.h>
#include <sys/queue.h>
#include <ctime>

typedef struct message_obj {
	int freq;
	char msg_id[5];
	char *buffer; // not zero-terminated
	int msg_id_len;
	int buf_size;
	int length;
	int errors;
	double signal;
	time_t rcv_time;
	TAILQ_ENTRY(message_obj) entries;
} MessageObj;

TAILQ_HEAD(tailhead, message_obj);

extern struct tailhead head;
extern pthread_mutex_t lst_mutex;

MessageObj *message_create(int freq, time_t t);
void message_reset(MessageObj *self, int freq, time_t t);
void message_remove(MessageObj **self);
int message_addchr(MessageObj *self, char chr, int err);
// A control signal's mark in the text (alpha, beta, the phasing signals,
// the carriage return), which message_addchr skips.
bool message_is_mark(char c);
double message_get_err(MessageObj *self);
void message_print_hdr(MessageObj *self);
int message_print_socket(MessageObj *self, char *buf, int max_size);
void message_list_init();
void message_list_put(MessageObj *msg);
MessageObj *message_list_get();
// Puts a message taken with message_list_get back in front: one that could
// not be sent goes to the next client instead of being lost.
void message_list_unget(MessageObj *msg);
void msg_list_print();
// Number of queued messages (for the server's debug listing).
int message_list_len();

#endif
