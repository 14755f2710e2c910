/*
 * Test helper run under the board emulation's LD_PRELOAD library: a plain
 * user-space program that opens /dev/myradio with the ordinary system calls,
 * reads blocks of 1536 bytes and regulates every channel's gain at each
 * buffer-end mark with RADIO_ADJUST, as the daemon does.
 *
 * usage: radio_probe <seconds of stream>
 * Prints one line per second: compare values and mean amplitudes; exits 0
 * when every channel's amplitude ended within 10 % of 500, 1 otherwise,
 * 2 on a device error.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "myradio.h"

#define TARGET 500

static int regulate(int fd, int cha, int amp_q, int amp_i)
{
	struct chan_set cs;
	int m = amp_q > amp_i ? amp_q : amp_i, d = m - TARGET;
	int diff = amp_q > amp_i ? amp_q - amp_i : amp_i - amp_q;

	if (d > 0)
		cs.val = -(90 + d / 4);
	else if (diff >= 50)
		cs.val = -90;
	else
		cs.val = 90 + (TARGET - m) / 4;
	cs.cha = cha;
	return ioctl(fd, RADIO_ADJUST, &cs);
}

int main(int argc, char **argv)
{
	double seconds = argc > 1 ? atof(argv[1]) : 10.0;
	unsigned long buffers = (unsigned long)(seconds * 26.68), n = 0;
	unsigned char block[1536];
	/* per channel and component: sums over the current buffer */
	double sum[6] = { 0 }, vals[64][6];
	int frame = 0, amp[3][2] = { { 0 } }, fd, ch;

	fd = open("/dev/myradio", O_RDONLY);
	if (fd < 0) {
		fprintf(stderr, "radio_probe: /dev/myradio: %s\n", strerror(errno));
		return 2;
	}
	while (n < buffers) {
		ssize_t got = read(fd, block, sizeof(block)), k;

		if (got <= 0 || got % 12) {
			fprintf(stderr, "radio_probe: read gave %zd (%s)\n", got, strerror(errno));
			return 2;
		}
		for (k = 0; k < got; k += 12, frame++) {
			int w, mark = 0;

			for (w = 0; w < 6; w++) {
				unsigned v = block[k + 2 * w] | (block[k + 2 * w + 1] << 8);

				mark |= v & 0x8000;
				vals[frame % 64][w] = v & 0x7fff;
				sum[w] += v & 0x7fff;
			}
			if (!mark)
				continue;
			if (frame % 64 != 63) {
				fprintf(stderr, "radio_probe: mark on frame %d of a buffer\n", frame % 64);
				return 2;
			}
			for (w = 0; w < 6; w++) {
				double mean = sum[w] / 64, s = 0;
				int f;

				for (f = 0; f < 64; f++)
					s += vals[f][w] > mean ? vals[f][w] - mean : mean - vals[f][w];
				amp[w / 2][w % 2] = (int)(s / 64);
				sum[w] = 0;
			}
			for (ch = 0; ch < 3; ch++)
				if (regulate(fd, ch, amp[ch][0], amp[ch][1]) < 0) {
					fprintf(stderr, "radio_probe: RADIO_ADJUST: %s\n", strerror(errno));
					return 2;
				}
			if (++n % 27 == 0) {
				printf("%5.1f s", n / 26.68);
				for (ch = 0; ch < 3; ch++)
					printf("  ch%d %4d %4d/%4d", ch, ioctl(fd, RADIO_GET, &ch),
					       amp[ch][0], amp[ch][1]);
				printf("\n");
			}
		}
	}
	close(fd);
	for (ch = 0; ch < 3; ch++) {
		int m = amp[ch][0] > amp[ch][1] ? amp[ch][0] : amp[ch][1];

		if (m < TARGET * 9 / 10 || m > TARGET * 11 / 10)
			return 1;
	}
	return 0;
}
