/*
 * Radio sampling device /dev/myradio (character 14:3).
 *
 * The stream is 16-bit little-endian words in frames of six (channel 0 Q, I,
 * channel 1 Q, I, channel 2 Q, I), bits 0..14 the unsigned sample, bit 15
 * set on the last word of every 768-byte buffer.  Gains are the compare
 * values of the three PWM outputs (12..3522, larger = more gain), changed in
 * steps of 1/8 count with RADIO_ADJUST and read back with RADIO_GET.
 */
#ifndef MYRADIO_H
#define MYRADIO_H

#ifdef __KERNEL__
#include <linux/types.h>
#include <linux/ioctl.h>
#define MYRADIO_DMA_T dma_addr_t
#else
#include <stdint.h>
#include <sys/ioctl.h>
#define MYRADIO_DMA_T uint32_t
#endif

/* Gain request: channel 0..2 and the change in 1/8 compare counts */
struct chan_set {
	int cha;
	int val;
};

/* The size field says int although RADIO_ADJUST passes a chan_set. */
#define RADIO_ADJUST	_IOW('R', 1, int)
#define RADIO_GET	_IOW('R', 2, int)

#define MYRADIO_MAJOR		14
#define MYRADIO_MINOR		3

#define PDC_BUFFER_COUNT	20
#define PDC_BUFFER_SIZE		768
#define PDC_BUFFER_WORDS	(PDC_BUFFER_SIZE / 2)

/* Ring record states */
#define PDC_FREE	0
#define PDC_FILLING	1
#define PDC_FULL	2
#define PDC_PARTIAL	3

struct pdc_buffer {
	int state;
	int pos;		/* bytes already delivered */
	void *virt;
	MYRADIO_DMA_T dma;
};

struct pwm_obj {
	int period;
	int compare[3];
	int compare_min[3];
	int compare_max[3];
};

#ifdef __cplusplus
extern "C" {
#endif
/* The module's state, visible to the host tests */
extern struct pdc_buffer pdc_buffers[PDC_BUFFER_COUNT];
extern struct pdc_buffer pdc_tx_buff;
extern int pdc_buff_wp;
extern int pdc_buff_rp;
extern struct pwm_obj pwm_obj;
extern unsigned short scbr;
extern unsigned short dlybtc;
int check_pdc_read_buf(void);
MYRADIO_DMA_T get_pdc_write_buf(void);
#ifdef __cplusplus
}
#endif

#endif
