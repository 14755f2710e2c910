// The decoder daemon object, its channel records and the daemon's own
// operations: start-up settings, the acquisition loop, gain regulation and
// the client protocol server.
#ifndef SKERRIN_SKERRIN_H
#define SKERRIN_SKERRIN_H

#include <atomic>
#include <ctime>

#include "bit_sample.h"
#include "get_msg.h"
#include "iq_interp.h"
#include "phase_det.h"

struct skerrin_cha {
	struct s_interp_iq s_iq;
	struct pha_obj det_obj;
	struct sample_bit_obj bit_obj;
	struct gt_msg_obj msg_obj;
};

struct skerrin_all {
	skerrin_cha *channels;
	int input_fd;
	int copy_fd;
	int dbglev;
	int no_of_chan;
	int delay_pr_samp;
	int export_cha;
	time_t start_time;
	unsigned int samp_ignored;
	unsigned int samp_stop;
};

struct socket_data {
	int port;
	int dbglev;
	std::atomic<int> run;
	skerrin_all *skerrin_obj;
};

extern const int frequencys[4];

#endif
