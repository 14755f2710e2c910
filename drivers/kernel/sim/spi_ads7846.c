/*
 * ADS7846 touch-screen controller on the simulated SPI bus: answers X and
 * Y position conversions with the panel's raw 12-bit values (4095 while
 * nothing touches the panel).
 */
#include <linux/kernel.h>
#include <linux/spi/spi.h>
#include <hostkernel/spi_sim.h>

#define ADS_START	0x80
#define ADS_MODE_8BIT	0x08
#define ADS_SER		0x04
#define ADS_CHAN_X	5
#define ADS_CHAN_Y	1

static void respond(void *ctx, const unsigned char *tx, unsigned char *rx,
		    unsigned int len)
{
	struct hk_ads7846 *p = ctx;
	int index[8] = { 0 };
	unsigned int i;

	for (i = 0; i + 1 < len; i += 2) {
		unsigned char c = tx[i];
		int chan = (c >> 4) & 7;
		int v;

		if (!(c & ADS_START)) {
			rx[i] = 0;
			rx[i + 1] = 0;
			continue;
		}
		if ((c & (ADS_MODE_8BIT | ADS_SER)) ||
		    (chan != ADS_CHAN_X && chan != ADS_CHAN_Y)) {
			p->bad_commands++;
			rx[i] = 0;
			rx[i + 1] = 0;
			continue;
		}
		if (!p->touched)
			v = 4095;
		else
			v = chan == ADS_CHAN_X ? p->x : p->y;
		if (p->sample)
			v = p->sample(p->ctx, chan, index[chan], v);
		index[chan]++;
		if (v < 0)
			v = 0;
		if (v > 4095)
			v = 4095;
		rx[i] = (unsigned char)((v >> 5) & 0x7F);
		rx[i + 1] = (unsigned char)((v << 3) & 0xF8);
		p->conversions++;
	}
	if (len & 1)
		rx[len - 1] = 0;
}

void hk_ads7846_attach(struct spi_device *spi, struct hk_ads7846 *panel)
{
	hk_spi_set_responder(spi, respond, panel);
}
