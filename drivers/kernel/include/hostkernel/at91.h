/*
 * The simulated AT91SAM9263: master clock 100 MHz, clocks "mck",
 * "spi0_clk", "spi1_clk", "tcb_clk", "twi_clk", "pioA_clk"..., all off
 * after reset as the clock code leaves those nobody claimed; the PIO pin
 * multiplexer; timer-counter block 0 (three channels with their registers
 * and clock state; on "tcb_clk" only: without it writes are lost, reads
 * give 0 and no channel runs); SPI1 with its PDC channel moving 16-bit
 * words between DMA memory and a converter on chip select 0, one transfer
 * per (16 x SCBR + 32 x DLYBCT) master clocks of simulated time, raising
 * interrupt 15 while SR & IMR is non-zero.
 *
 * The converter answers each transfer with the conversion of the input that
 * the previous transfer selected (bits 13..11 of the word sent).  By default
 * input n's k-th conversion is (n << 12) | (k & 0xfff); a source function
 * can supply the values instead.
 */
#ifndef HOSTKERNEL_AT91_H
#define HOSTKERNEL_AT91_H
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif
/* Fresh board: all peripherals, pins and clocks to their reset state */
void hk_at91_reset(void);

/* Pins: 'A', 'B', 'G' (GPIO) or 0 when never configured */
int hk_at91_pin_function(unsigned pin);
int hk_at91_pin_pullup(unsigned pin);

/* Timer counter block 0: register of channel ch (offsets of at91_tc.h),
 * whatever the clock; running = enabled on a clocked block */
uint32_t hk_at91_tc_reg(unsigned ch, uint32_t offset);
int hk_at91_tc_running(unsigned ch);

/* SPI1 */
uint32_t hk_at91_spi_reg(uint32_t offset);
/* Simulated nanoseconds one transfer takes with the present settings */
uint64_t hk_at91_spi_transfer_ns(void);
/* Advance the clock by exactly n transfer times (transfers happen only while
 * the controller and its PDC run) */
void hk_at91_spi_run(unsigned long n);
/* Transfers done since reset, and words sent/received */
unsigned long hk_at91_spi_transfers(void);
uint16_t hk_at91_spi_last_tx(void);
typedef uint16_t (*hk_at91_adc_source)(void *ctx, unsigned input);
void hk_at91_adc_set_source(hk_at91_adc_source fn, void *ctx);
/* A PDC access to a bus address outside any live DMA allocation: counted,
 * the word dropped (the board would scribble over freed memory) */
unsigned long hk_at91_pdc_faults(void);
#ifdef __cplusplus
}
#endif
#endif
