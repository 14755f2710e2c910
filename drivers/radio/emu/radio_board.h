/*
 * Board emulation for rfspidrv: the radio front end behind the simulated
 * SPI1 converter, so that user-space programs can drive the real module's
 * file operations on the host.
 *
 * The front end plays a recording in the device stream format (or three
 * synthesized tones) into the converter, one conversion per transfer, and
 * scales each channel's signal around the converter's mid-scale 16384 by
 *
 *     gain[ch] x 10^(0.02 x (compare[ch] - 1792) / 12.65)
 *
 * where compare[ch] is the value in that channel's timer register (channel
 * 0: TC0 RA, 1: TC0 RB, 2: TC1 RA) - the same law the daemon's level
 * equation assumes, so its dBm figure stays that of the input.  Samples
 * clip to 0..32767.  Whenever a reader would sleep, the converter fills one
 * more buffer (at the board's pace when asked, else at once).
 */
#ifndef RADIO_BOARD_H
#define RADIO_BOARD_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

struct radio_board_config {
	const char *recording;	/* stream file; NULL: tones of mean amplitude 500 */
	double gain[3];		/* signal factor per channel at compare 1792 */
	unsigned loops;		/* plays of the recording before it ends; 0 = 1 */
	int realtime;		/* one buffer per 37.5 ms of wall time */
	const char *module_args;	/* load arguments, e.g. "scbr=182" */
	FILE *log;		/* per-buffer line: buffer, compares, amplitudes */
};

/* What the converter produced in the last completed buffer */
struct radio_board_stats {
	unsigned long buffers;	/* buffers converted since start */
	int compare[3];		/* timer compare values during it */
	double amp[3][2];	/* mean |sample - mean| of Q and I per channel */
};

/* Reset the simulated board, load rfspidrv, start the front end: 0 or -errno */
int radio_board_start(const struct radio_board_config *cfg);
/* Unload and stop; 0 or the unload's error */
int radio_board_stop(void);
/* 1 once the recording has been played to its end */
int radio_board_exhausted(void);
void radio_board_last(struct radio_board_stats *out);
/* The front end's gain law */
double radio_board_gain(int compare);

#ifdef __cplusplus
}
#endif
#endif
