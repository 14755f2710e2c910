// Message assembly.
//
// Takes the characters of the character decoder for one channel and the
// channel's level in dBm; opens a message at "ZCZC", fills it, and at
// "NNNN" queues it when its error percentage is below max_err.  "aaaa"
// (end of transmission) gives -1 so the caller drops the phasing lock.
#ifndef SKERRIN_GET_MSG_H
#define SKERRIN_GET_MSG_H

#include <ctime>

#include "messages.h"

struct gt_msg_obj {
	char shrt_buf[4]; // last four characters, oldest first
	MessageObj *message;
	double max_err;
	int freq;
	int dbg_print;
	time_t time; // non-zero: reception time for the next message
};

int gt_msg_init(struct gt_msg_obj *msg_obj, int rfreq, int dbg_print);
int gt_msg_reset(struct gt_msg_obj *msg_obj);
int gt_msg(struct gt_msg_obj *msg_obj, char charater, double signal);

#endif
