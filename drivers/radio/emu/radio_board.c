/*
 * Front end of the radio board on the simulated AT91 (see radio_board.h).
 */
#include "radio_board.h"

#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <hostkernel/at91.h>
#include <hostkernel/hostkernel.h>

#define FRAME_WORDS 6
#define BUFFER_FRAMES 64
#define MID_SCALE 16384
#define COMPARE_REF 1792
#define TONE_RATE 1707.65
#define BUFFER_NS 37478400ull	/* 384 transfers of 97.6 us */

static struct board {
	struct radio_board_config cfg;
	uint16_t *rec;		/* recording words, bit 15 cleared */
	size_t rec_frames;
	size_t frame;		/* frame the converter is in */
	unsigned plays;
	int exhausted;
	int gain_compare[3];	/* compare values the current frame uses */
	double tone_phase[3];
	/* statistics of the buffer being converted */
	double sum[FRAME_WORDS], sum_abs[FRAME_WORDS];
	double vals[BUFFER_FRAMES][FRAME_WORDS];
	unsigned frames_in_buffer;
	struct radio_board_stats last;
	struct timespec next_due;
	int running;
} b;

double radio_board_gain(int compare)
{
	return pow(10.0, 0.02 * (compare - COMPARE_REF) / 12.65);
}

static int read_compare(int ch)
{
	static const struct {
		unsigned tc;
		uint32_t reg;
	} out[3] = { { 0, 0x14 }, { 0, 0x18 }, { 1, 0x14 } };

	if (!hk_at91_tc_running(out[ch].tc))
		return COMPARE_REF;	/* no PWM: the front end's resting gain */
	return (int)hk_at91_tc_reg(out[ch].tc, out[ch].reg);
}

static double source_value(unsigned input)
{
	unsigned ch = input / 2;

	if (b.rec) {
		if (b.exhausted)
			return 0.0;
		return (double)b.rec[b.frame * FRAME_WORDS + input] - MID_SCALE;
	}
	/* tones of 100, 150 and 200 Hz: Q = A sin, I = A cos, mean |.| 500 */
	{
		double a = 500.0 * M_PI / 2.0;
		double ph = b.tone_phase[ch];

		return input % 2 ? a * cos(ph) : a * sin(ph);
	}
}

static void end_of_frame(void)
{
	unsigned ch;

	for (ch = 0; ch < 3; ch++) {
		b.tone_phase[ch] += 2.0 * M_PI * (100.0 + 50.0 * ch) / TONE_RATE;
		if (b.tone_phase[ch] > 2.0 * M_PI)
			b.tone_phase[ch] -= 2.0 * M_PI;
	}
	if (b.rec && !b.exhausted && ++b.frame >= b.rec_frames) {
		b.frame = 0;
		if (++b.plays >= (b.cfg.loops ? b.cfg.loops : 1))
			b.exhausted = 1;
	}
	if (++b.frames_in_buffer == BUFFER_FRAMES) {
		unsigned i, f;

		b.last.buffers++;
		for (ch = 0; ch < 3; ch++)
			b.last.compare[ch] = b.gain_compare[ch];
		for (i = 0; i < FRAME_WORDS; i++) {
			double mean = b.sum[i] / BUFFER_FRAMES, s = 0;

			for (f = 0; f < BUFFER_FRAMES; f++)
				s += fabs(b.vals[f][i] - mean);
			b.last.amp[i / 2][i % 2] = s / BUFFER_FRAMES;
			b.sum[i] = 0;
		}
		b.frames_in_buffer = 0;
		if (b.cfg.log)
			fprintf(b.cfg.log, "%lu %d %d %d %.1f %.1f %.1f %.1f %.1f %.1f\n",
				b.last.buffers, b.last.compare[0], b.last.compare[1],
				b.last.compare[2], b.last.amp[0][0], b.last.amp[0][1],
				b.last.amp[1][0], b.last.amp[1][1], b.last.amp[2][0],
				b.last.amp[2][1]);
	}
}

/* One conversion of the given input, called by the simulated converter */
static uint16_t convert(void *ctx, unsigned input)
{
	unsigned ch = input / 2;
	double v;
	long out;

	(void)ctx;
	if (input == 0) {
		unsigned c;

		/* the gains follow the timer outputs frame by frame */
		for (c = 0; c < 3; c++)
			b.gain_compare[c] = read_compare((int)c);
	}
	v = source_value(input) * b.cfg.gain[ch] * radio_board_gain(b.gain_compare[ch]);
	out = lround(MID_SCALE + v);
	if (out < 0)
		out = 0;
	if (out > 0x7fff)
		out = 0x7fff;
	b.sum[input] += (double)out;
	b.vals[b.frames_in_buffer][input] = (double)out;
	if (input == FRAME_WORDS - 1)
		end_of_frame();
	return (uint16_t)out;
}

static void pace(void)
{
	struct timespec now;

	clock_gettime(CLOCK_MONOTONIC, &now);
	if (b.next_due.tv_sec == 0)
		b.next_due = now;
	b.next_due.tv_nsec += (long)BUFFER_NS;
	while (b.next_due.tv_nsec >= 1000000000L) {
		b.next_due.tv_sec++;
		b.next_due.tv_nsec -= 1000000000L;
	}
	clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &b.next_due, NULL);
}

static size_t frames_left(void)
{
	unsigned loops = b.cfg.loops ? b.cfg.loops : 1;

	if (b.plays >= loops)
		return 0;
	return (loops - b.plays - 1) * b.rec_frames + (b.rec_frames - b.frame);
}

/* A reader would sleep: the converter fills the next buffer. */
static int idle(void *ctx)
{
	(void)ctx;
	if (b.rec && !b.exhausted && frames_left() < BUFFER_FRAMES)
		b.exhausted = 1;	/* the stream ends with the last whole buffer */
	if (b.exhausted) {
		/* nothing more will come: let the sleeper return */
		hk_task_signal(hk_task_self());
		return 1;
	}
	if (b.cfg.realtime)
		pace();
	hk_at91_spi_run(BUFFER_FRAMES * FRAME_WORDS);
	return 1;
}

static int load_recording(const char *path)
{
	FILE *f = fopen(path, "rb");
	long size;
	size_t words, i;

	if (!f)
		return -errno;
	if (fseek(f, 0, SEEK_END) || (size = ftell(f)) < 0 || fseek(f, 0, SEEK_SET)) {
		fclose(f);
		return -EIO;
	}
	words = (size_t)size / 2;
	b.rec_frames = words / FRAME_WORDS;
	if (!b.rec_frames) {
		fclose(f);
		return -EINVAL;
	}
	b.rec = malloc(b.rec_frames * FRAME_WORDS * sizeof(uint16_t));
	if (!b.rec) {
		fclose(f);
		return -ENOMEM;
	}
	for (i = 0; i < b.rec_frames * FRAME_WORDS; i++) {
		unsigned char w[2];

		if (fread(w, 1, 2, f) != 2) {
			fclose(f);
			free(b.rec);
			b.rec = NULL;
			return -EIO;
		}
		b.rec[i] = (uint16_t)((w[0] | (w[1] << 8)) & 0x7fff);
	}
	fclose(f);
	return 0;
}

int radio_board_start(const struct radio_board_config *cfg)
{
	int err, ch;

	if (b.running)
		return -EBUSY;
	memset(&b, 0, sizeof(b));
	b.cfg = *cfg;
	for (ch = 0; ch < 3; ch++) {
		if (b.cfg.gain[ch] <= 0)
			b.cfg.gain[ch] = 1.0;
		b.gain_compare[ch] = COMPARE_REF;
	}
	if (cfg->recording) {
		err = load_recording(cfg->recording);
		if (err)
			return err;
	}
	hk_at91_reset();
	hk_at91_adc_set_source(convert, NULL);
	err = hk_module_load("rfspidrv", cfg->module_args ? cfg->module_args : "");
	if (err) {
		free(b.rec);
		b.rec = NULL;
		return err;
	}
	hk_set_idle_hook(idle, NULL);
	b.running = 1;
	return 0;
}

int radio_board_stop(void)
{
	int err;

	if (!b.running)
		return 0;
	hk_set_idle_hook(NULL, NULL);
	err = hk_module_unload("rfspidrv");
	hk_at91_adc_set_source(NULL, NULL);
	free(b.rec);
	b.rec = NULL;
	b.running = 0;
	return err;
}

int radio_board_exhausted(void)
{
	return b.exhausted;
}

void radio_board_last(struct radio_board_stats *out)
{
	*out = b.last;
}
