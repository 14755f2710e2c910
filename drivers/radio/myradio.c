/*
 * rfspidrv - radio front end sampling driver for the Tovane board
 * (AT91SAM9263, Linux 2.6.25).
 *
 * Takes: the front end's six-input converter on SPI1 chip select 0, read by
 * the PDC in 16-bit transfers (16 x scbr + 32 x dlybtc master clocks each,
 * about 10 250 per second, 1 700 per input), and the three gain outputs
 * TIOA0, TIOB0 and TIOA1 of timer-counter block 0 (PWM, period 4096 counts).
 *
 * Gives: character device 14:3.  read() drains a ring of 20 DMA buffers of
 * 768 bytes (384 words, 64 frames of six words, about 37.5 ms each), marking
 * bit 15 of each buffer's last word and the gain compare values in bit 8 of
 * its first 16 words.  ioctl RADIO_ADJUST moves one channel's compare value
 * (12..3522) by val / 8 counts, RADIO_GET reads it back; the common OSS
 * sound-device queries are answered with fixed values.
 *
 * The SPI end-of-receive interrupt is the ring's only producer; readers in
 * read() are its consumers.  Each ring field is one word written by only one
 * side in normal operation, so no lock is taken.
 */

#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/types.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/cdev.h>
#include <linux/sched.h>
#include <linux/wait.h>
#include <linux/poll.h>
#include <linux/interrupt.h>
#include <linux/dma-mapping.h>
#include <linux/clk.h>
#include <linux/err.h>
#include <linux/string.h>
#include <linux/soundcard.h>
#include <linux/atmel_pdc.h>

#include <asm/io.h>
#include <asm/uaccess.h>
#include <asm/arch/gpio.h>
#include <asm/arch/at91sam9263.h>

#include "myradio.h"

/* SPI1 registers (offsets in its window) and the bits used here */
#define SPI_PHYS		0xFFFA8000
#define SPI_WINDOW		0x128
#define SPI_CR			0x00
#define SPI_MR			0x04
#define SPI_SR			0x10
#define SPI_IER			0x14
#define SPI_IDR			0x18
#define SPI_CSR0		0x30
#define SPI_CR_SPIEN		0x01
#define SPI_CR_SPIDIS		0x02
#define SPI_CR_SWRST		0x80
#define SPI_SR_ENDRX		0x10
#define SPI_SR_TXBUFE		0x80
/* master, fixed select, NPCS0, mode-fault detection on, DLYBCS = 6 */
#define SPI_MR_VALUE		0x06000001
/* CPOL 0, NCPHA 1, 16 bits per transfer, DLYBS 5; SCBR, DLYBCT added */
#define SPI_CSR0_FIXED		0x00050082
#define SPI_IRQ			15

/* Timer-counter channel registers (each channel's own window) */
#define TC0_PHYS		0xFFF7C000
#define TC1_PHYS		0xFFF7C040
#define TC_WINDOW		0x100
#define TC_CCR			0x00
#define TC_CMR			0x04
#define TC_RA			0x14
#define TC_RB			0x18
#define TC_RC			0x1C
#define TC_IDR			0x28
#define TC_CLKEN		0x1
#define TC_CLKDIS		0x2
#define TC_SWTRG		0x4
/*
 * Waveform mode, MCK/2, up to RC then restart, external event XC0 so TIOB
 * is an output; TIOA set at RA, TIOB set at RB, both cleared at RC.
 */
#define TC_CMR_PWM		0x0909C400

#define PDC_STOP		(ATMEL_PDC_RXTDIS | ATMEL_PDC_TXTDIS)
#define PDC_START		(ATMEL_PDC_RXTEN | ATMEL_PDC_TXTEN)

#define SCBR_DEFAULT		182
#define DLYBTC_DEFAULT		214

#define PWM_PERIOD		4096
#define PWM_COMPARE_START	1792
#define PWM_COMPARE_MIN		12
#define PWM_COMPARE_MAX		3522

#define RADIO_CHANNELS		3

/* The source line the load banner has always shown */
#define BANNER_LINE		721

/*
 * How the pieces fit
 * ------------------
 *
 * Converter and control words.  SPI1 runs as bus master with a fixed chip
 * select (NPCS0) and exchanges one 16-bit word per transfer.  The word sent
 * selects, in bits 13..11, the converter input to convert next; the word
 * received is the conversion of the input the previous word selected.  The
 * transmit buffer holds 384 control words selecting 1, 2, 3, 4, 5, 0, ...,
 * so received word k is input k mod 6, and as 384 = 64 x 6 every receive
 * buffer starts with input 0.  The same transmit buffer is queued for every
 * block and never rewritten.
 *
 *   word k sent:      ((k + 1) mod 6) << 11
 *   word k received:  input k mod 6, bits 0..14 the sample
 *
 *   frame (12 bytes): ch0 Q, ch0 I, ch1 Q, ch1 I, ch2 Q, ch2 I
 *
 * Timing.  One transfer is 16 SPI clocks of scbr master clocks plus a
 * pause of 32 x dlybtc master clocks: 9760 master clocks at the defaults,
 * 97.6 us at 100 MHz, so 10 246 transfers, 1 707.65 frames and 26.7
 * buffers per second; a buffer every 37.5 ms, the ring 0.75 s.
 *
 * Receive DMA.  The PDC has a current and a next receive buffer.  When the
 * current one is full it moves on to the next, raises ENDRX and leaves the
 * next slot empty; the interrupt refills that slot with the following ring
 * buffer.  Because two buffers are always queued, the interrupt may come up
 * to one buffer time late without a gap.  If it comes later still, both
 * receive and both transmit blocks have run out (TXBUFE) and the transfers
 * have stopped: the handler then queues a current block again as well.
 *
 * Ring.  20 records, each owning 768 bytes of coherent DMA memory.
 *
 *   state        set by      when
 *   PDC_FILLING  producer    the record is queued to the PDC
 *   PDC_FULL     producer    the record queued two steps later is queued
 *   PDC_PARTIAL  reader      part of it has been delivered (or none, when
 *                            a read with nothing left to fill reaches it)
 *   PDC_FREE     reader      its last byte is delivered; read index moves
 *
 * The producer (interrupt) only moves records to FILLING and FULL and
 * advances pdc_buff_wp; readers only move records to PARTIAL and FREE and
 * advance pdc_buff_rp, and own pos.  Each is one aligned word, so the two
 * sides need no lock as long as the reader stays less than 18 buffers
 * behind.  Further behind, the producer queues unread records again: their
 * old contents are lost, the reader waits for the new fill and takes it
 * from its start.  Its only sign is the console character ">" (the record
 * before the read index is no longer free), or "<" when the reader finds
 * the record it was about to deliver being filled again.
 *
 * Marks.  The first reader to reach a FULL buffer ORs in, before it
 * delivers any of it, bit 15 of the last word (the daemon runs its gain
 * regulation there) and, in bit 8 of words 0..15, the bits of
 * compare[0] | compare[1], least significant first.
 *
 * Gains.  Timer channel 0 drives TIOA0 (radio channel 0, RA) and TIOB0
 * (radio channel 1, RB), timer channel 1 drives TIOA1 (radio channel 2,
 * RA), all with period RC = 4096 counts of MCK/2.  An output is high from
 * its compare value to the end of the period; a larger compare value is a
 * shorter pulse and a higher gain.  RADIO_ADJUST moves a compare value by
 * val / 8 (truncated toward zero) within 12..3522 and writes it to its
 * register at once; nothing is written when that timer window is not
 * mapped, in which case the load left the timers alone.
 *
 * Load and unload.  The load takes, in this order: the SPI1 clock, the 20
 * ring buffers, the transmit buffer, the SPI pins, the SPI register window,
 * the device number 14:3 (reserved, so that a driver owning it already,
 * such as the sound core, makes the load fail instead of being shadowed),
 * the character device, the interrupt; then it starts the transfers and
 * takes the timer pins, the timer block's clock "tcb_clk" and the timer
 * windows.  A failure gives back everything taken before it, in reverse
 * order, so a failed load leaves no device number registered and no
 * handler on the interrupt.  Unload is the load in reverse: it stops the
 * timers and gives back their windows and clock, masks the SPI interrupt,
 * stops both PDC directions and the controller, and only then releases
 * the interrupt, the device and its number, the window, the DMA memory
 * and the SPI1 clock, so no transfer can reach freed memory.
 *
 * Registers written at load (unload: timers CCR = CLKDIS, SPI IDR = 0xFF,
 * PTCR = RXTDIS | TXTDIS, CR = SPIDIS):
 *
 *   SPI  PTCR  0x202        both PDC directions stopped while set up
 *        IDR   0xFF         every SPI interrupt masked
 *        CR    SPIDIS, SWRST, SWRST, 0
 *        MR    0x06000001   master, fixed select NPCS0, mode fault
 *                           detection on, DLYBCS 6
 *        CSR0  dlybtc << 24 | scbr << 8 | 0x00050082
 *                           CPOL 0, NCPHA 1, CSAAT 0, 16 bits, DLYBS 5
 *        CR    SPIEN
 *   PDC  TPR/TCR    transmit buffer / 384
 *        RPR/RCR    ring buffer 0 / 384
 *        TNPR/TNCR  transmit buffer / 384
 *        RNPR/RNCR  ring buffer 1 / 384
 *   SPI  IER   ENDRX;  PTCR 0x101 (RXTEN | TXTEN): sampling starts
 *   TC0  CCR CLKDIS, CMR 0x0909C400, RA c0, RB c1, RC 4096, IDR 0xFF,
 *        CCR CLKEN | SWTRG
 *   TC1  the same with RA c2, RB 0
 *
 *   CMR 0x0909C400: TIMER_CLOCK1 (MCK/2), EEVT = XC0 so that TIOB is an
 *   output, WAVSEL up to RC, WAVE, ACPA set, ACPC clear, BCPB set, BCPC
 *   clear: a PWM of MCK / 8192 on each output.
 *
 * Pins: PB12..PB15 (kernel pins 76..79) to peripheral A for SPI1, PE18,
 * PE19 and PE8 (178, 179, 168) to peripheral B for TIOA0, TIOB0, TIOA1,
 * all with pull-up.
 *
 * Parameters.  scbr and dlybtc (read-only in sysfs) fall back together to
 * 182 and 214 when either is 0 or not given; only their low bytes reach the
 * registers and the load message.
 *
 * Console.  Messages carry their printk level in the text ("<6>", "<5>",
 * "<3>").  The read-path diagnostics ">", "<" and "k" and the late-interrupt
 * "." are single characters without level or newline; the status register
 * dumps, the spurious-interrupt report and the failure messages of the
 * transmit buffer and the register windows have no level either.
 */

struct MySpiSoundDev {
	int major;
	int minor;
	struct cdev cdev;
	wait_queue_head_t read_wait;
};

static int MySpiSoundOpen(struct inode *inode, struct file *file);
static int MySpiSoundRelease(struct inode *inode, struct file *file);
static ssize_t MySpiSoundRead(struct file *file, char __user *buf,
			      size_t count, loff_t *ppos);
static ssize_t MySpiSoundWrite(struct file *file, const char __user *buf,
			       size_t count, loff_t *ppos);
static unsigned int MySpiSoundPoll(struct file *file, poll_table *wait);
static int MySpiSoundIoctl(struct inode *inode, struct file *file,
			   unsigned int cmd, unsigned long arg);

static struct file_operations MySpiSoundDspFops = {
	.owner = THIS_MODULE,
	.read = MySpiSoundRead,
	.write = MySpiSoundWrite,
	.poll = MySpiSoundPoll,
	.ioctl = MySpiSoundIoctl,
	.open = MySpiSoundOpen,
	.release = MySpiSoundRelease,
};

static struct MySpiSoundDev initializedmyspi = {
	.major = MYRADIO_MAJOR,
	.minor = MYRADIO_MINOR,
};
static struct MySpiSoundDev *myspip;

unsigned short scbr;
module_param(scbr, ushort, 0444);
MODULE_PARM_DESC(scbr, "SPI clock divider (master clock / scbr), default 182");
unsigned short dlybtc;
module_param(dlybtc, ushort, 0444);
MODULE_PARM_DESC(dlybtc, "delay between transfers in 32 master clocks, default 214");

static struct clk *clk;
static struct clk *tcb_clk;
static void __iomem *spi_base;
static void __iomem *tc_base[2];

struct pdc_buffer pdc_buffers[PDC_BUFFER_COUNT];
struct pdc_buffer pdc_tx_buff;
int pdc_buff_wp;
int pdc_buff_rp;

struct pwm_obj pwm_obj = {
	.period = PWM_PERIOD,
	.compare = { PWM_COMPARE_START, PWM_COMPARE_START, PWM_COMPARE_START },
	.compare_min = { PWM_COMPARE_MIN, PWM_COMPARE_MIN, PWM_COMPARE_MIN },
	.compare_max = { PWM_COMPARE_MAX, PWM_COMPARE_MAX, PWM_COMPARE_MAX },
};

/* The ring */

int check_pdc_read_buf(void)
{
	int state = pdc_buffers[pdc_buff_rp].state;

	return state == PDC_FULL || state == PDC_PARTIAL;
}

/*
 * Producer step: queue buffer wp to the PDC.  The PDC holds two receive
 * buffers (current and next), so the one queued two steps ago has just been
 * completed.
 */
dma_addr_t get_pdc_write_buf(void)
{
	int w = pdc_buff_wp;
	int p = w < 2 ? w + PDC_BUFFER_COUNT - 2 : w - 2;

	pdc_buffers[w].state = PDC_FILLING;
	if (pdc_buffers[p].state == PDC_FILLING)
		pdc_buffers[p].state = PDC_FULL;
	pdc_buff_wp = (w + 1) % PDC_BUFFER_COUNT;
	return pdc_buffers[w].dma;
}

/*
 * Marks applied once per fill, before the first byte is delivered: bit 15
 * of the last word (the daemon regulates its gains there), and the OR of
 * the channel 0 and 1 compare values, one bit per word, in bit 8 of words
 * 0..15.
 */
static void stamp_pdc_buf(struct pdc_buffer *b)
{
	u8 *data = b->virt;
	int i;

	data[PDC_BUFFER_SIZE - 1] |= 0x80;
	for (i = 0; i < 16; i++)
		data[2 * i + 1] |= ((pwm_obj.compare[0] >> i) |
				    (pwm_obj.compare[1] >> i)) & 1;
}

/* Sleep until a buffer is ready; 0, or -ERESTARTSYS on a signal. */
static int wait_for_pdc_read_buf(void)
{
	DEFINE_WAIT(wait);
	int ret = 0;

	for (;;) {
		prepare_to_wait(&myspip->read_wait, &wait, TASK_INTERRUPTIBLE);
		if (check_pdc_read_buf())
			break;
		if (signal_pending(current)) {
			ret = -ERESTARTSYS;
			break;
		}
		schedule();
	}
	finish_wait(&myspip->read_wait, &wait);
	return ret;
}

/* File operations */

static int MySpiSoundOpen(struct inode *inode, struct file *file)
{
	if (!try_module_get(THIS_MODULE))
		return -ENODEV;
	return 0;
}

static int MySpiSoundRelease(struct inode *inode, struct file *file)
{
	module_put(THIS_MODULE);
	return 0;
}

/*
 * Deliver bytes from consecutive ready buffers, continuing a buffer where
 * an earlier read stopped.  Sleeps only until the first buffer is ready;
 * returns when the request is filled or the next buffer is not ready.
 */
static ssize_t MySpiSoundRead(struct file *file, char __user *buf,
			      size_t count, loff_t *ppos)
{
	size_t copied = 0;
	int ret;

	if (file->f_flags & O_NONBLOCK)
		return -EAGAIN;
	if (!check_pdc_read_buf()) {
		ret = wait_for_pdc_read_buf();
		if (ret)
			return ret;
	}
	for (;;) {
		struct pdc_buffer *rec;
		size_t remaining, offset, chunk;
		int r, state;

		if (!check_pdc_read_buf())
			return copied;
		remaining = count - copied;
		r = pdc_buff_rp;
		rec = &pdc_buffers[r];
		state = rec->state;
		if (state == PDC_FULL) {
			rec->pos = 0;
			stamp_pdc_buf(rec);
			offset = 0;
			chunk = PDC_BUFFER_SIZE;
		} else if (state == PDC_PARTIAL) {
			offset = rec->pos;
			chunk = PDC_BUFFER_SIZE - rec->pos;
		} else {
			/*
			 * The interrupt queued this buffer again after the
			 * readiness test: the PDC is filling it, so none of it
			 * may go out.  Nothing delivered yet: wait for it to
			 * complete rather than return 0, which reads as end
			 * of file.
			 */
			printk("<");
			if (copied)
				return copied;
			ret = wait_for_pdc_read_buf();
			if (ret)
				return ret;
			continue;
		}
		if (chunk > remaining)
			chunk = remaining;
		if (pdc_buffers[(r + PDC_BUFFER_COUNT - 1) % PDC_BUFFER_COUNT].state != PDC_FREE)
			printk(">");	/* the producer has come round to the reader */
		rec->pos += chunk;
		if (rec->pos >= PDC_BUFFER_SIZE) {
			pdc_buff_rp = (r + 1) % PDC_BUFFER_COUNT;
			rec->state = PDC_FREE;
			if (rec->pos > PDC_BUFFER_SIZE)
				printk("k");
		} else {
			rec->state = PDC_PARTIAL;
		}
		if (copied >= count)
			return copied;
		/*
		 * A faulting destination loses this chunk; the bytes already
		 * copied still count, and a read that copied none reports the
		 * fault instead of an end of file.
		 */
		if (copy_to_user(buf + copied, (u8 *)rec->virt + offset, chunk))
			return copied ? (ssize_t)copied : -EFAULT;
		copied += chunk;
	}
}

/* The device takes no data; writes succeed so sound tools can open it. */
static ssize_t MySpiSoundWrite(struct file *file, const char __user *buf,
			       size_t count, loff_t *ppos)
{
	if (file->f_flags & O_NONBLOCK)
		return -EAGAIN;
	return count;
}

/* Readiness is not reported: readers block in read() instead. */
static unsigned int MySpiSoundPoll(struct file *file, poll_table *wait)
{
	return 0;
}

/* Write a channel's compare value to its timer register, if mapped. */
static void set_pwm_compare(int cha)
{
	static const struct {
		int tc;
		unsigned int reg;
	} out[RADIO_CHANNELS] = {
		{ 0, TC_RA }, { 0, TC_RB }, { 1, TC_RA },
	};

	if (tc_base[out[cha].tc])
		writel(pwm_obj.compare[cha], tc_base[out[cha].tc] + out[cha].reg);
}

static int radio_adjust(struct chan_set __user *arg)
{
	struct chan_set req;
	int step;

	if (copy_from_user(&req, arg, sizeof(req)))
		return -EFAULT;
	step = req.val / 8;
	if ((unsigned int)req.cha < RADIO_CHANNELS) {
		int c = pwm_obj.compare[req.cha] + step;

		if (c < pwm_obj.compare_min[req.cha])
			c = pwm_obj.compare_min[req.cha];
		else if (c > pwm_obj.compare_max[req.cha])
			c = pwm_obj.compare_max[req.cha];
		pwm_obj.compare[req.cha] = c;
		set_pwm_compare(req.cha);
	}
	return put_user(0, &arg->cha);
}

static int radio_get(int __user *arg)
{
	int cha;

	if (get_user(cha, arg))
		return -EFAULT;
	if ((unsigned int)cha < RADIO_CHANNELS)
		return pwm_obj.compare[cha];
	return -1;
}

/* Store a constant of the device through the argument pointer. */
static int dsp_answer(unsigned long arg, int value)
{
	return put_user(value, (int __user *)arg);
}

static int MySpiSoundIoctl(struct inode *inode, struct file *file,
			   unsigned int cmd, unsigned long arg)
{
	int val;

	switch (cmd) {
	case RADIO_ADJUST:
		return radio_adjust((struct chan_set __user *)arg);
	case RADIO_GET:
		return radio_get((int __user *)arg);

	case SNDCTL_DSP_RESET:
	case SNDCTL_DSP_SYNC:
		return 0;
	case SNDCTL_DSP_NONBLOCK:
		file->f_flags |= O_NONBLOCK;
		return 0;
	case SNDCTL_DSP_SETDUPLEX:
		return dsp_answer(arg, 0);
	case SNDCTL_DSP_GETFMTS:
		return dsp_answer(arg, AFMT_S16_LE);
	case SNDCTL_DSP_SETFMT:
		if (get_user(val, (int __user *)arg))
			return -EFAULT;
		if (val != AFMT_S16_LE)
			return -EFAULT;
		return dsp_answer(arg, val);
	case SNDCTL_DSP_SPEED:
		if (get_user(val, (int __user *)arg))
			return -EFAULT;
		if (val != 8000)
			return 0;
		return dsp_answer(arg, val);
	case SNDCTL_DSP_STEREO:
		if (get_user(val, (int __user *)arg))
			return -EFAULT;
		return dsp_answer(arg, 1);
	case SNDCTL_DSP_CHANNELS:
		return dsp_answer(arg, 2);
	case SNDCTL_DSP_GETBLKSIZE:
		return dsp_answer(arg, 8000);
	case SNDCTL_DSP_SETFRAGMENT:
		if (get_user(val, (int __user *)arg))
			return -EFAULT;
		return dsp_answer(arg, 8000);
	case SNDCTL_DSP_GETODELAY:
		return dsp_answer(arg, 5);
	case OSS_GETVERSION:
		return dsp_answer(arg, 0x030802);
	case SNDCTL_DSP_GETISPACE:
	case SNDCTL_DSP_GETIPTR:
	case SNDCTL_DSP_PROFILE:
		return -EINVAL;
	default:
		return 0;
	}
}

/* Hardware */

static inline void spi_write(unsigned int reg, u32 value)
{
	writel(value, spi_base + reg);
}

static inline u32 spi_read(unsigned int reg)
{
	return readl(spi_base + reg);
}

/* Program timer channel i as a two-output PWM: set at RA/RB, cleared at RC. */
int setup_pwm_crlr(int i, int ra, int rb, int rc)
{
	void __iomem *base = tc_base[i];

	writel(TC_CLKDIS, base + TC_CCR);
	writel(TC_CMR_PWM, base + TC_CMR);
	writel(ra, base + TC_RA);
	writel(rb, base + TC_RB);
	writel(rc, base + TC_RC);
	writel(0xFF, base + TC_IDR);
	writel(TC_CLKEN | TC_SWTRG, base + TC_CCR);
	return 0;
}

/*
 * End of a receive buffer: queue the next one, wake the readers.  Two
 * receive buffers are queued at all times, so there is one buffer time to
 * get here before the transfers stop.
 */
irqreturn_t spi_interrupt(int irq, void *dev_id)
{
	u32 sr = spi_read(SPI_SR);

	if (sr & SPI_SR_ENDRX) {
		if (sr & SPI_SR_TXBUFE) {
			/*
			 * Both transmit blocks ran out: the transfers have
			 * stopped.  Restart at control word 0; the last word
			 * sent selected input 0, so frames stay aligned.
			 */
			spi_write(ATMEL_PDC_TPR, pdc_tx_buff.dma);
			spi_write(ATMEL_PDC_TCR, PDC_BUFFER_WORDS);
			spi_write(ATMEL_PDC_RPR, get_pdc_write_buf());
			spi_write(ATMEL_PDC_RCR, PDC_BUFFER_WORDS);
			printk(".");
		}
		/* also marks the buffer completed two steps ago full */
		spi_write(ATMEL_PDC_RNPR, get_pdc_write_buf());
		spi_write(ATMEL_PDC_RNCR, PDC_BUFFER_WORDS);
		wake_up_interruptible(&myspip->read_wait);
		spi_write(ATMEL_PDC_TNPR, pdc_tx_buff.dma);
		spi_write(ATMEL_PDC_TNCR, PDC_BUFFER_WORDS);
	} else {
		printk("Interrupt : %8.8X\n", sr);
	}
	return IRQ_HANDLED;
}

/* Start state of everything a load sets up, also on a reload. */
static void reset_state(void)
{
	int i;

	for (i = 0; i < PDC_BUFFER_COUNT; i++) {
		pdc_buffers[i].state = PDC_FREE;
		pdc_buffers[i].pos = 0;
		pdc_buffers[i].virt = NULL;
		pdc_buffers[i].dma = 0;
	}
	pdc_tx_buff.virt = NULL;
	pdc_tx_buff.dma = 0;
	pdc_buff_wp = 0;
	pdc_buff_rp = 0;
	pwm_obj.period = PWM_PERIOD;
	for (i = 0; i < RADIO_CHANNELS; i++) {
		pwm_obj.compare[i] = PWM_COMPARE_START;
		pwm_obj.compare_min[i] = PWM_COMPARE_MIN;
		pwm_obj.compare_max[i] = PWM_COMPARE_MAX;
	}
	tc_base[0] = NULL;
	tc_base[1] = NULL;
	tcb_clk = NULL;
	spi_base = NULL;
}

static void free_pdc_buffers(void)
{
	int i;

	for (i = 0; i < PDC_BUFFER_COUNT; i++) {
		if (pdc_buffers[i].virt) {
			dma_free_coherent(NULL, PDC_BUFFER_SIZE,
					  pdc_buffers[i].virt, pdc_buffers[i].dma);
			pdc_buffers[i].virt = NULL;
		}
	}
}

static void free_tx_buffer(void)
{
	if (pdc_tx_buff.virt) {
		dma_free_coherent(NULL, PDC_BUFFER_SIZE, pdc_tx_buff.virt,
				  pdc_tx_buff.dma);
		pdc_tx_buff.virt = NULL;
	}
}

/*
 * Control words, sent for ever: word k selects converter input (k + 1) mod 6
 * in bits 13..11, so each answer carries input k mod 6.
 */
static void fill_tx_buffer(void)
{
	u8 *tx = pdc_tx_buff.virt;
	int k;

	memset(tx, 0, PDC_BUFFER_SIZE);
	for (k = 0; k < PDC_BUFFER_WORDS; k++) {
		tx[2 * k] = 0;
		tx[2 * k + 1] = ((k + 1) % 6) * 8;
	}
}

/*
 * The gain timers: their block's clock, which the clock code switches off
 * late in boot when no driver has claimed it, then the two channel windows.
 * Without any of them the module samples with the gains it has, so a
 * failure here gives back what this step took and no more.
 */
static void setup_timers(void)
{
	tcb_clk = clk_get(NULL, "tcb_clk");
	if (IS_ERR(tcb_clk)) {
		printk("could not get TC clock\n");
		tcb_clk = NULL;
		return;
	}
	clk_enable(tcb_clk);

	tc_base[0] = ioremap(TC0_PHYS, TC_WINDOW);
	if (!tc_base[0]) {
		printk("could not map TC base 0\n");
		goto err_clk;
	}
	tc_base[1] = ioremap(TC1_PHYS, TC_WINDOW);
	if (!tc_base[1]) {
		printk("could not map TC base 1\n");
		goto err_tc0;
	}
	printk(KERN_INFO "TC base mapped at 0x%X and 0x%X\n",
	       (unsigned int)(unsigned long)tc_base[0],
	       (unsigned int)(unsigned long)tc_base[1]);
	setup_pwm_crlr(0, pwm_obj.compare[0], pwm_obj.compare[1], pwm_obj.period);
	setup_pwm_crlr(1, pwm_obj.compare[2], 0, pwm_obj.period);
	printk(KERN_INFO "Setting A:%d B:%d C:%d\n",
	       pwm_obj.compare[0], pwm_obj.compare[1], pwm_obj.period);
	printk(KERN_INFO "TC initialized\n");
	return;

err_tc0:
	iounmap(tc_base[0]);
	tc_base[0] = NULL;
err_clk:
	clk_disable(tcb_clk);
	clk_put(tcb_clk);
	tcb_clk = NULL;
}

/* The timers stopped and given back, the reverse of setup_timers(). */
static void release_timers(void)
{
	int i;

	for (i = 1; i >= 0; i--) {
		if (tc_base[i]) {
			writel(TC_CLKDIS, tc_base[i] + TC_CCR);
			iounmap(tc_base[i]);
			tc_base[i] = NULL;
		}
	}
	if (tcb_clk) {
		clk_disable(tcb_clk);
		clk_put(tcb_clk);
		tcb_clk = NULL;
	}
}

/* Stop both PDC directions and the controller: no DMA into freed memory. */
static void stop_sampling(void)
{
	spi_write(ATMEL_PDC_PTCR, PDC_STOP);
	spi_write(SPI_CR, SPI_CR_SPIDIS);
}

/*
 * Load: clock, ring and transmit buffers, SPI pins and registers, the
 * device, the interrupt, then start sampling and the gain outputs.  A
 * failure gives back everything taken before it, in reverse order.
 *
 * Results: 0; -1 without the SPI1 clock; -ENODEV when DMA memory or the
 * SPI window cannot be had; the error of reserving the device number
 * (-EBUSY when another driver owns it) or of adding the device; -EBUSY
 * when the interrupt is taken.  A missing timer clock or window does not
 * fail the load: the module then samples with the gains it has.
 *
 * The banner's line number is part of the board's console log, so it
 * stays the same whatever moves in this file.
 */
static int __init myradio_init(void)
{
	dev_t devno;
	int err;
	int i;

	printk(KERN_INFO "%s My Rvcxadio (%s():%d)\n", "Module myradio:...",
	       __func__, BANNER_LINE);

	reset_state();
	clk = clk_get(NULL, "spi1_clk");
	if (IS_ERR(clk)) {
		printk(KERN_ERR "Could not get clk (%p)\n", clk);
		return -1;
	}
	clk_enable(clk);

	if (scbr == 0 || dlybtc == 0) {
		scbr = SCBR_DEFAULT;
		dlybtc = DLYBTC_DEFAULT;
	}
	printk(KERN_INFO "Master clock : %lu\n", clk_get_rate(clk));
	printk(KERN_INFO "Clock devider: scbr: %d dlybtc %d\n", scbr & 0xFF, dlybtc & 0xFF);

	for (i = 0; i < PDC_BUFFER_COUNT; i++) {
		pdc_buffers[i].virt = dma_alloc_coherent(NULL, PDC_BUFFER_SIZE,
							 &pdc_buffers[i].dma, GFP_ATOMIC);
		if (!pdc_buffers[i].virt) {
			free_pdc_buffers();
			printk(KERN_INFO "DMA allocation failed...\n");
			printk(KERN_ERR "ERROR: allocate pdcbuffers\n");
			err = -ENODEV;
			goto err_clk;
		}
		printk(KERN_INFO "%d: PDC buffer at 0x%X \n", i,
		       (unsigned int)(unsigned long)pdc_buffers[i].virt);
		pdc_buffers[i].state = PDC_FREE;
	}
	printk(KERN_INFO "Returning from PDC allocate %d \n", PDC_BUFFER_COUNT);

	pdc_tx_buff.virt = dma_alloc_coherent(NULL, PDC_BUFFER_SIZE,
					      &pdc_tx_buff.dma, GFP_KERNEL);
	if (!pdc_tx_buff.virt) {
		printk("DMA allocation failed...\n");
		printk("allocate pdcbuffers\n");
		err = -ENODEV;
		goto err_ring;
	}
	fill_tx_buffer();
	printk(KERN_INFO "tx buf at 0x%X \n", (unsigned int)(unsigned long)pdc_tx_buff.virt);

	at91_set_A_periph(AT91_PIN_PB12, 1);
	at91_set_A_periph(AT91_PIN_PB13, 1);
	at91_set_A_periph(AT91_PIN_PB14, 1);
	at91_set_A_periph(AT91_PIN_PB15, 1);

	spi_base = ioremap(SPI_PHYS, SPI_WINDOW);
	if (!spi_base) {
		printk("could not map spi base\n");
		err = -ENODEV;
		goto err_tx;
	}
	printk(KERN_INFO "spi base mapped at 0x%X \n", (unsigned int)(unsigned long)spi_base);
	spi_write(ATMEL_PDC_PTCR, PDC_STOP);
	spi_write(SPI_IDR, 0xFF);

	myspip = &initializedmyspi;
	init_waitqueue_head(&myspip->read_wait);
	/*
	 * Reserve the number first: adding the device alone would silently
	 * shadow a driver that already owns it (14 is the sound major).
	 */
	devno = MKDEV(myspip->major, myspip->minor);
	err = register_chrdev_region(devno, 1, "myradio");
	if (err) {
		printk(KERN_NOTICE "Error %d reserving myspi sound dsp device %d:%d\n",
		       err, myspip->major, myspip->minor);
		goto err_spi;
	}
	cdev_init(&myspip->cdev, &MySpiSoundDspFops);
	myspip->cdev.owner = THIS_MODULE;
	myspip->cdev.ops = &MySpiSoundDspFops;
	err = cdev_add(&myspip->cdev, devno, 1);
	if (err) {
		printk(KERN_NOTICE "Error %d adding myspi sound dsp device\n", err);
		goto err_region;
	}

	printk(KERN_INFO "requesting interrupt\n");
	if (request_irq(SPI_IRQ, spi_interrupt, 0, "spi1", NULL)) {
		err = -EBUSY;
		goto err_cdev;
	}
	printk(KERN_INFO "interrupt requested\n");

	spi_write(SPI_CR, SPI_CR_SPIDIS);
	spi_write(SPI_CR, SPI_CR_SWRST);
	spi_write(SPI_CR, SPI_CR_SWRST);
	spi_write(SPI_CR, 0);
	spi_write(SPI_MR, SPI_MR_VALUE);
	spi_write(SPI_CSR0, ((u32)(dlybtc & 0xFF) << 24) | ((u32)(scbr & 0xFF) << 8) |
		  SPI_CSR0_FIXED);
	printk("AT91_SPI_SR: %8.8X\n", spi_read(SPI_SR));
	spi_write(SPI_CR, SPI_CR_SPIEN);
	printk("AT91_SPI_SR: %8.8X\n", spi_read(SPI_SR));

	spi_write(ATMEL_PDC_TPR, pdc_tx_buff.dma);
	spi_write(ATMEL_PDC_TCR, PDC_BUFFER_WORDS);
	spi_write(ATMEL_PDC_RPR, get_pdc_write_buf());
	spi_write(ATMEL_PDC_RCR, PDC_BUFFER_WORDS);
	spi_write(ATMEL_PDC_TNPR, pdc_tx_buff.dma);
	spi_write(ATMEL_PDC_TNCR, PDC_BUFFER_WORDS);
	spi_write(ATMEL_PDC_RNPR, get_pdc_write_buf());
	spi_write(ATMEL_PDC_RNCR, PDC_BUFFER_WORDS);

	spi_write(SPI_IER, SPI_SR_ENDRX);
	spi_write(ATMEL_PDC_PTCR, PDC_START);

	at91_set_B_periph(AT91_PIN_PE18, 1);
	at91_set_B_periph(AT91_PIN_PE19, 1);
	at91_set_B_periph(AT91_PIN_PE8, 1);

	/* Without the timers the module still samples, with fixed gains. */
	setup_timers();
	printk(KERN_INFO "Myradio fylly loaded\n");
	return 0;

err_cdev:
	cdev_del(&myspip->cdev);
err_region:
	unregister_chrdev_region(devno, 1);
err_spi:
	iounmap(spi_base);
	spi_base = NULL;
err_tx:
	free_tx_buffer();
err_ring:
	free_pdc_buffers();
err_clk:
	clk_disable(clk);
	clk_put(clk);
	return err;
}

/*
 * Unload: the load sequence undone in reverse, sampling stopped before
 * anything it uses is given back.
 */
static void __exit myradio_exit(void)
{
	release_timers();
	spi_write(SPI_IDR, 0xFF);
	stop_sampling();
	free_irq(SPI_IRQ, NULL);
	cdev_del(&myspip->cdev);
	unregister_chrdev_region(MKDEV(myspip->major, myspip->minor), 1);
	iounmap(spi_base);
	spi_base = NULL;
	free_tx_buffer();
	free_pdc_buffers();
	clk_disable(clk);
	clk_put(clk);
}

module_init(myradio_init);
module_exit(myradio_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("My Spi module for Tovane");
