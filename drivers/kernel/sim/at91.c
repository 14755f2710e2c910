/*
 * The simulated AT91SAM9263 (hostkernel/at91.h): clocks, PIO pin
 * multiplexer, timer-counter block 0 and SPI1 with its PDC channel and the
 * converter on chip select 0.
 *
 * SPI1 runs on the simulated clock: while enabled as master with its PDC
 * transmitting, one 16-bit transfer completes every (16 x SCBR + 32 x DLYBCT)
 * master clocks.  Each transfer takes a word from the transmit buffer, gets
 * the converter's answer and stores it in the receive buffer; counters reload
 * from the "next" registers when they run out, ENDRX/ENDTX latch until RCR or
 * RNCR (TCR or TNCR) is written, and interrupt 15 follows SR & IMR.
 */
#define _GNU_SOURCE
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <linux/atmel_pdc.h>
#include <asm/arch/at91sam9263.h>
#include <asm/arch/at91_spi.h>
#include <asm/arch/at91_tc.h>
#include <asm/arch/gpio.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/at91.h>
#include <hostkernel/clk.h>
#include <hostkernel/dma.h>
#include <hostkernel/irq.h>
#include <hostkernel/mmio.h>

#define MCK_HZ 100000000ul
#define NPINS (MAX_GPIO_BANKS * 32)

/* recursive: the converter's source may look at the timers while a transfer runs */
static pthread_mutex_t board_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

/* PIO */

static struct pin {
	char function;
	char pullup;
	char output;
	char value;
	char requested;
} pins[NPINS];

static struct pin *pin_of(unsigned pin)
{
	if (pin < PIN_BASE || pin >= PIN_BASE + NPINS)
		return NULL;
	return &pins[pin - PIN_BASE];
}

static int set_function(unsigned pin, char function, int pullup)
{
	struct pin *p = pin_of(pin);

	if (!p)
		return -EINVAL;
	pthread_mutex_lock(&board_lock);
	p->function = function;
	p->pullup = !!pullup;
	pthread_mutex_unlock(&board_lock);
	return 0;
}

int at91_set_GPIO_periph(unsigned pin, int use_pullup)
{
	return set_function(pin, 'G', use_pullup);
}

int at91_set_A_periph(unsigned pin, int use_pullup)
{
	return set_function(pin, 'A', use_pullup);
}

int at91_set_B_periph(unsigned pin, int use_pullup)
{
	return set_function(pin, 'B', use_pullup);
}

int at91_set_gpio_input(unsigned pin, int use_pullup)
{
	struct pin *p = pin_of(pin);

	if (!p)
		return -EINVAL;
	set_function(pin, 'G', use_pullup);
	p->output = 0;
	return 0;
}

int at91_set_gpio_output(unsigned pin, int value)
{
	struct pin *p = pin_of(pin);

	if (!p)
		return -EINVAL;
	set_function(pin, 'G', 0);
	p->output = 1;
	p->value = !!value;
	return 0;
}

int at91_set_deglitch(unsigned pin, int is_on)
{
	return pin_of(pin) ? 0 : -EINVAL;
}

int at91_set_multi_drive(unsigned pin, int is_on)
{
	return pin_of(pin) ? 0 : -EINVAL;
}

int at91_set_gpio_value(unsigned pin, int value)
{
	struct pin *p = pin_of(pin);

	if (!p)
		return -EINVAL;
	p->value = !!value;
	return 0;
}

int at91_get_gpio_value(unsigned pin)
{
	struct pin *p = pin_of(pin);

	return p ? p->value : -EINVAL;
}

int gpio_request(unsigned gpio, const char *label)
{
	struct pin *p = pin_of(gpio);

	if (!p)
		return -EINVAL;
	if (p->requested)
		return -EBUSY;
	p->requested = 1;
	hk_res_acquire("gpio");
	return 0;
}

void gpio_free(unsigned gpio)
{
	struct pin *p = pin_of(gpio);

	if (p && p->requested) {
		p->requested = 0;
		hk_res_release("gpio");
	}
}

int gpio_direction_input(unsigned gpio)
{
	struct pin *p = pin_of(gpio);

	return at91_set_gpio_input(gpio, p ? p->pullup : 0);
}

int gpio_direction_output(unsigned gpio, int value)
{
	return at91_set_gpio_output(gpio, value);
}

int hk_at91_pin_function(unsigned pin)
{
	struct pin *p = pin_of(pin);

	return p ? p->function : -1;
}

int hk_at91_pin_pullup(unsigned pin)
{
	struct pin *p = pin_of(pin);

	return p ? p->pullup : -1;
}

/* Timer counter block 0 */

/*
 * The block runs on its peripheral clock "tcb_clk", which the clock code
 * leaves off unless someone enabled it: without it the registers take no
 * writes, read as 0, and no channel counts, so the outputs never move.
 */
static struct tc_channel {
	uint32_t ccr, cmr, cv, ra, rb, rc, imr;
	int clken;
} tc[3];
static uint32_t tc_bmr;

static int tc_clocked(void)
{
	return hk_clk_enabled("tcb_clk") > 0;
}

static uint32_t tc_read(void *ctx, uint32_t off, int width)
{
	unsigned ch = off / 0x40;
	uint32_t r = off % 0x40, v = 0;

	if (!tc_clocked())
		return 0;
	pthread_mutex_lock(&board_lock);
	if (off == AT91_TC_BMR)
		v = tc_bmr;
	else if (ch < 3) {
		struct tc_channel *c = &tc[ch];

		switch (r) {
		case AT91_TC_CMR: v = c->cmr; break;
		case AT91_TC_CV: v = c->cv; break;
		case AT91_TC_RA: v = c->ra; break;
		case AT91_TC_RB: v = c->rb; break;
		case AT91_TC_RC: v = c->rc; break;
		case AT91_TC_SR: v = c->clken ? AT91_TC_CLKSTA : 0; break;
		case AT91_TC_IMR: v = c->imr; break;
		}
	}
	pthread_mutex_unlock(&board_lock);
	return v;
}

static void tc_write(void *ctx, uint32_t off, uint32_t v, int width)
{
	unsigned ch = off / 0x40;
	uint32_t r = off % 0x40;

	if (!tc_clocked())
		return;
	pthread_mutex_lock(&board_lock);
	if (off == AT91_TC_BMR)
		tc_bmr = v;
	else if (ch < 3) {
		struct tc_channel *c = &tc[ch];

		switch (r) {
		case AT91_TC_CCR:
			c->ccr = v;
			if (v & AT91_TC_CLKDIS)
				c->clken = 0;
			else if (v & AT91_TC_CLKEN)
				c->clken = 1;
			if (v & AT91_TC_SWTRG)
				c->cv = 0;
			break;
		case AT91_TC_CMR: c->cmr = v; break;
		case AT91_TC_RA: c->ra = v & 0xffff; break;
		case AT91_TC_RB: c->rb = v & 0xffff; break;
		case AT91_TC_RC: c->rc = v & 0xffff; break;
		case AT91_TC_IER: c->imr |= v; break;
		case AT91_TC_IDR: c->imr &= ~v; break;
		}
	}
	pthread_mutex_unlock(&board_lock);
}

static const struct hk_mmio_ops tc_ops = { tc_read, tc_write };

uint32_t hk_at91_tc_reg(unsigned ch, uint32_t offset)
{
	uint32_t v = 0;

	if (ch >= 3)
		return 0;
	pthread_mutex_lock(&board_lock);
	switch (offset) {
	case AT91_TC_CCR: v = tc[ch].ccr; break;
	case AT91_TC_CMR: v = tc[ch].cmr; break;
	case AT91_TC_CV: v = tc[ch].cv; break;
	case AT91_TC_RA: v = tc[ch].ra; break;
	case AT91_TC_RB: v = tc[ch].rb; break;
	case AT91_TC_RC: v = tc[ch].rc; break;
	case AT91_TC_SR: v = tc[ch].clken ? AT91_TC_CLKSTA : 0; break;
	case AT91_TC_IMR: v = tc[ch].imr; break;
	}
	pthread_mutex_unlock(&board_lock);
	return v;
}

int hk_at91_tc_running(unsigned ch)
{
	return ch < 3 && tc[ch].clken && tc_clocked();
}

/* SPI1, its PDC channel and the converter */

static struct spi {
	int enabled;
	uint32_t mr, csr[4], imr, rdr, tdr;
	int rdrf, ovres, modf, endrx, endtx;
	uint32_t rpr, rcr, tpr, tcr, rnpr, rncr, tnpr, tncr;
	int rxten, txten;
	uint64_t time;		/* simulated time the transfers are accounted to */
	unsigned long transfers;
	uint16_t last_tx;
	unsigned long pdc_faults;
	unsigned selected;	/* input the converter converts next */
	uint32_t conversions[8];
} spi;

static hk_at91_adc_source adc_source;
static void *adc_ctx;
static int listening;

static uint32_t spi_sr(void)
{
	uint32_t sr = 0;

	if (spi.rdrf)
		sr |= AT91_SPI_RDRF;
	if (spi.modf)
		sr |= AT91_SPI_MODF;
	if (spi.ovres)
		sr |= AT91_SPI_OVRES;
	if (spi.endrx)
		sr |= AT91_SPI_ENDRX;
	if (spi.endtx)
		sr |= AT91_SPI_ENDTX;
	if (!spi.rcr && !spi.rncr)
		sr |= AT91_SPI_RXBUFF;
	if (!spi.tcr && !spi.tncr)
		sr |= AT91_SPI_TXBUFE | AT91_SPI_TXEMPTY;
	if (!spi.txten || !spi.tcr)
		sr |= AT91_SPI_TDRE;
	if (spi.enabled)
		sr |= AT91_SPI_SPIENS;
	return sr;
}

static int spi_level(void)
{
	return (spi_sr() & spi.imr) != 0;
}

static int spi_running(void)
{
	return spi.enabled && (spi.mr & AT91_SPI_MSTR) && spi.txten && spi.tcr;
}

static uint64_t spi_period_ns(void)
{
	uint64_t scbr = (spi.csr[0] >> 8) & 0xff, dlybct = (spi.csr[0] >> 24) & 0xff;
	uint64_t cycles = 16 * (scbr ? scbr : 1) + 32 * dlybct;

	return cycles * 1000000000ull / MCK_HZ;
}

static void reload_rx(void)
{
	if (!spi.rcr && spi.rncr) {
		spi.rpr = spi.rnpr;
		spi.rcr = spi.rncr;
		spi.rncr = 0;
	}
}

static void reload_tx(void)
{
	if (!spi.tcr && spi.tncr) {
		spi.tpr = spi.tnpr;
		spi.tcr = spi.tncr;
		spi.tncr = 0;
	}
}

static uint16_t convert(unsigned input)
{
	uint32_t k = spi.conversions[input & 7]++;

	if (input > 5)
		return 0;
	if (adc_source)
		return adc_source(adc_ctx, input);
	return (uint16_t)((input << 12) | (k & 0xfff));
}

static void pdc_fault(const char *dir, uint32_t bus)
{
	spi.pdc_faults++;
	fprintf(stderr, "hostkernel: SPI1 PDC %s at bus address %#x outside any DMA buffer\n",
		dir, bus);
}

/* One transfer; board_lock held */
static void spi_step(void)
{
	uint16_t tx = 0, rx;
	void *p = hk_dma_virt(spi.tpr, 2);

	if (p)
		memcpy(&tx, p, 2);
	else
		pdc_fault("transmit", spi.tpr);
	spi.tpr += 2;
	if (!--spi.tcr) {
		spi.endtx = 1;
		reload_tx();
	}
	rx = convert(spi.selected);
	spi.selected = (tx >> 11) & 7;
	if (spi.rxten && spi.rcr) {
		p = hk_dma_virt(spi.rpr, 2);
		if (p)
			memcpy(p, &rx, 2);
		else
			pdc_fault("receive", spi.rpr);
		spi.rpr += 2;
		if (!--spi.rcr) {
			spi.endrx = 1;
			reload_rx();
		}
	} else {
		if (spi.rdrf)
			spi.ovres = 1;
		spi.rdr = rx;
		spi.rdrf = 1;
	}
	spi.transfers++;
	spi.last_tx = tx;
}

static void spi_clock(void *ctx, uint64_t now)
{
	for (;;) {
		int level;

		pthread_mutex_lock(&board_lock);
		if (!spi_running()) {
			spi.time = now;
			pthread_mutex_unlock(&board_lock);
			return;
		}
		if (spi.time + spi_period_ns() > now) {
			pthread_mutex_unlock(&board_lock);
			return;
		}
		spi.time += spi_period_ns();
		spi_step();
		level = spi_level();
		pthread_mutex_unlock(&board_lock);
		hk_irq_set_level(AT91SAM9263_ID_SPI1, level);
	}
}

static uint32_t spi_read(void *ctx, uint32_t off, int width)
{
	uint32_t v = 0;

	pthread_mutex_lock(&board_lock);
	switch (off) {
	case AT91_SPI_MR: v = spi.mr; break;
	case AT91_SPI_RDR: v = spi.rdr; spi.rdrf = 0; break;
	case AT91_SPI_SR:
		v = spi_sr();
		spi.modf = 0;
		spi.ovres = 0;
		break;
	case AT91_SPI_IMR: v = spi.imr; break;
	case AT91_SPI_CSR(0): case AT91_SPI_CSR(1):
	case AT91_SPI_CSR(2): case AT91_SPI_CSR(3):
		v = spi.csr[(off - AT91_SPI_CSR(0)) / 4];
		break;
	case ATMEL_PDC_RPR: v = spi.rpr; break;
	case ATMEL_PDC_RCR: v = spi.rcr; break;
	case ATMEL_PDC_TPR: v = spi.tpr; break;
	case ATMEL_PDC_TCR: v = spi.tcr; break;
	case ATMEL_PDC_RNPR: v = spi.rnpr; break;
	case ATMEL_PDC_RNCR: v = spi.rncr; break;
	case ATMEL_PDC_TNPR: v = spi.tnpr; break;
	case ATMEL_PDC_TNCR: v = spi.tncr; break;
	case ATMEL_PDC_PTSR:
		v = (spi.rxten ? ATMEL_PDC_RXTEN : 0) | (spi.txten ? ATMEL_PDC_TXTEN : 0);
		break;
	}
	pthread_mutex_unlock(&board_lock);
	return v;
}

static void spi_write(void *ctx, uint32_t off, uint32_t v, int width)
{
	int level;

	pthread_mutex_lock(&board_lock);
	/* a controller that starts now has no transfers owed from before */
	if (!spi_running())
		spi.time = hk_clock_ns();
	switch (off) {
	case AT91_SPI_CR:
		if (v & AT91_SPI_SWRST) {
			spi.enabled = 0;
			spi.mr = 0;
			memset(spi.csr, 0, sizeof(spi.csr));
			spi.imr = 0;
			spi.rdrf = spi.ovres = spi.modf = 0;
		}
		if (v & AT91_SPI_SPIDIS)
			spi.enabled = 0;
		else if (v & AT91_SPI_SPIEN)
			spi.enabled = 1;
		break;
	case AT91_SPI_MR: spi.mr = v; break;
	case AT91_SPI_TDR: spi.tdr = v; break;
	case AT91_SPI_IER: spi.imr |= v & 0x3ff; break;
	case AT91_SPI_IDR: spi.imr &= ~v; break;
	case AT91_SPI_CSR(0): case AT91_SPI_CSR(1):
	case AT91_SPI_CSR(2): case AT91_SPI_CSR(3):
		spi.csr[(off - AT91_SPI_CSR(0)) / 4] = v;
		break;
	case ATMEL_PDC_RPR: spi.rpr = v; break;
	case ATMEL_PDC_RCR: spi.rcr = v & 0xffff; spi.endrx = 0; reload_rx(); break;
	case ATMEL_PDC_TPR: spi.tpr = v; break;
	case ATMEL_PDC_TCR: spi.tcr = v & 0xffff; spi.endtx = 0; reload_tx(); break;
	case ATMEL_PDC_RNPR: spi.rnpr = v; break;
	case ATMEL_PDC_RNCR: spi.rncr = v & 0xffff; spi.endrx = 0; reload_rx(); break;
	case ATMEL_PDC_TNPR: spi.tnpr = v; break;
	case ATMEL_PDC_TNCR: spi.tncr = v & 0xffff; spi.endtx = 0; reload_tx(); break;
	case ATMEL_PDC_PTCR:
		if (v & ATMEL_PDC_RXTDIS)
			spi.rxten = 0;
		else if (v & ATMEL_PDC_RXTEN)
			spi.rxten = 1;
		if (v & ATMEL_PDC_TXTDIS)
			spi.txten = 0;
		else if (v & ATMEL_PDC_TXTEN)
			spi.txten = 1;
		break;
	}
	level = spi_level();
	pthread_mutex_unlock(&board_lock);
	hk_irq_set_level(AT91SAM9263_ID_SPI1, level);
}

static const struct hk_mmio_ops spi_ops = { spi_read, spi_write };

uint32_t hk_at91_spi_reg(uint32_t offset)
{
	if (offset == AT91_SPI_SR) {
		uint32_t v;

		pthread_mutex_lock(&board_lock);
		v = spi_sr();	/* without the read side effects */
		pthread_mutex_unlock(&board_lock);
		return v;
	}
	return spi_read(NULL, offset, 4);
}

uint64_t hk_at91_spi_transfer_ns(void)
{
	uint64_t ns;

	pthread_mutex_lock(&board_lock);
	ns = spi_period_ns();
	pthread_mutex_unlock(&board_lock);
	return ns;
}

void hk_at91_spi_run(unsigned long n)
{
	uint64_t now = hk_clock_ns(), target;

	pthread_mutex_lock(&board_lock);
	if (!spi_running())
		spi.time = now;
	target = spi.time + n * spi_period_ns();
	pthread_mutex_unlock(&board_lock);
	if (target > now)
		hk_clock_advance(target - now);
}

unsigned long hk_at91_spi_transfers(void)
{
	return spi.transfers;
}

uint16_t hk_at91_spi_last_tx(void)
{
	return spi.last_tx;
}

unsigned long hk_at91_pdc_faults(void)
{
	return spi.pdc_faults;
}

void hk_at91_adc_set_source(hk_at91_adc_source fn, void *ctx)
{
	pthread_mutex_lock(&board_lock);
	adc_source = fn;
	adc_ctx = ctx;
	pthread_mutex_unlock(&board_lock);
}

/* The whole board */

void hk_at91_reset(void)
{
	static const char *const clocks[] = {
		"mck", "pioA_clk", "pioB_clk", "pioCDE_clk", "usart0_clk", "usart1_clk",
		"usart2_clk", "mci0_clk", "mci1_clk", "twi_clk", "spi0_clk", "spi1_clk",
		"ssc0_clk", "ssc1_clk", "ac97_clk", "tcb_clk", "pwm_clk",
		"macb_clk", "udc_clk", "isi_clk", "lcdc_clk", "hck1",
	};
	unsigned i;

	hk_clk_reset();
	for (i = 0; i < ARRAY_SIZE(clocks); i++)
		hk_clk_register(clocks[i], MCK_HZ);
	pthread_mutex_lock(&board_lock);
	memset(pins, 0, sizeof(pins));
	memset(tc, 0, sizeof(tc));
	tc_bmr = 0;
	memset(&spi, 0, sizeof(spi));
	spi.time = hk_clock_ns();
	adc_source = NULL;
	adc_ctx = NULL;
	pthread_mutex_unlock(&board_lock);
	hk_mmio_register(AT91SAM9263_BASE_SPI1, 0x4000, &spi_ops, NULL);
	hk_mmio_register(AT91SAM9263_BASE_TCB0, 0x4000, &tc_ops, NULL);
	hk_irq_set_level(AT91SAM9263_ID_SPI1, 0);
	if (!listening) {
		hk_clock_listen(spi_clock, NULL);
		listening = 1;
	}
}
