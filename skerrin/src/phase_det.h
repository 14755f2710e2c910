// Phasing detector and bit clock.
//
// Takes the detection values of the front end, one per sample (17 samples
// per bit, 238 per phasing period).  A comb average over the period finds
// the repeating phasing pattern; after more than `minphasings` consecutive
// periods the bit clock locks and each result is the sample's position in
// its bit, 0..17.  Before the lock every result is negative: -32000 idle,
// a progress code while searching.
#ifndef SKERRIN_PHASE_DET_H
#define SKERRIN_PHASE_DET_H

#include <atomic>

constexpr int DELAY_BUF_MAX = 238;

struct delay_buf {
	int delay[DELAY_BUF_MAX];
	int ptr;
	int fact;   // 0: plain delay line, else comb averaging weight
	int length; // slots in use
};

struct pha_obj {
	struct delay_buf delay_obj;
	int shifts[200];
	// 0 idle, 1 receiving; read by the protocol server thread.
	std::atomic<int> status;
	int idle;
	int iseq;
	int istart;
	int phasings;
	int iprt;
	int firstsample;
	int avgpos;
	int phasingsfound;
	int sampcnt;
	int bitsampleno;
	int accm_offset;
	int signal;
	int avg_prev;
	int avg_prev_ph;
	int dbg_print;
	int sample_pr_bit;
	int minphasings;
	int samples;
	int samp_add;
	int samp_sub;
	int bit_count;
	int avg_prev_slow;
};

extern const int stride[4];

int detect_delay_init(struct delay_buf *delay_obj, int length, int fact);
int detect_delay(struct delay_buf *delay_obj, int detect);
int detect_pha_init(struct pha_obj *det_obj, int sample_rate, int dbg_print);
int detect_pha(struct pha_obj *det_obj, int detect, int samples);
int detect_pha_eos(struct pha_obj *det_obj);

#endif
