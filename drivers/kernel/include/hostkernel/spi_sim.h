/*
 * Control side of the SPI simulation, for tests.  Plain C.
 *
 * The board code's part: devices by bus number, chip select and driver name
 * (modalias); a device binds as soon as both it and a driver of that name
 * exist.  The controller of each bus holds submitted messages in order
 * until the test completes them; completing runs each transfer through the
 * device's model (a responder that answers the transmitted bytes) and then
 * the message's completion function in interrupt context.
 *
 * Fault kinds (hostkernel.h): "spi_setup" (spi_setup fails with -EINVAL),
 * "spi_async" (the submission fails with -EIO and nothing is queued),
 * "spi_register_driver" (-ENOMEM).
 *
 * Misuse is counted rather than crashing the test: submitting a message the
 * controller still holds (it is not queued again), a message without
 * transfers, or a message to a device without a bound driver.
 */
#ifndef HOSTKERNEL_SPI_SIM_H
#define HOSTKERNEL_SPI_SIM_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct spi_device;

/* Fills rx (len bytes) with the device's answer to tx (len bytes). */
typedef void (*hk_spi_responder)(void *ctx, const unsigned char *tx,
				 unsigned char *rx, unsigned int len);

struct spi_device *hk_spi_new_device(int bus, int chip_select,
				     const char *modalias,
				     unsigned int max_speed_hz);
/* Unbinds the device (its driver's remove runs) and removes it. */
void hk_spi_del_device(struct spi_device *spi);
int hk_spi_device_bound(const struct spi_device *spi);
const char *hk_spi_device_bus_id(const struct spi_device *spi);
/* The mode and word size the driver set up; -1 before any spi_setup */
int hk_spi_device_mode(const struct spi_device *spi);
int hk_spi_device_bits(const struct spi_device *spi);
void hk_spi_set_responder(struct spi_device *spi, hk_spi_responder fn, void *ctx);

/* Messages the controller of the bus holds (bus < 0: all buses) */
int hk_spi_queued(int bus);
/*
 * Completes up to n of the oldest held messages of the bus (n < 0: all),
 * with the given status (0: transferred through the device model; else
 * the receive buffers are left as they were).  Returns how many.
 */
int hk_spi_complete(int bus, int n, int status);
/* Messages accepted by spi_async since start */
long hk_spi_submitted(void);
/* Completion functions run since start */
long hk_spi_completed(void);
/* Misuse seen since start (see above) */
long hk_spi_violations(void);

/*
 * ADS7846 touch controller model.  Each conversion is a control byte and
 * one more byte; the 12-bit result comes back in the same two bytes:
 * bits 11..5 in bits 6..0 of the first, bits 4..0 in bits 7..3 of the
 * second.  Channel 5 (X position) answers x and channel 1 (Y position) y
 * while touched, both 4095 while not; `sample`, when set, may change the
 * value of each conversion (index counts the conversions of that channel
 * within one transfer).  Control bytes for other channels, 8-bit mode or
 * single-ended measurement count as bad commands and read 0.
 */
struct hk_ads7846 {
	int touched;
	int x;
	int y;
	int (*sample)(void *ctx, int channel, int index, int value);
	void *ctx;
	long conversions;
	long bad_commands;
};

void hk_ads7846_attach(struct spi_device *spi, struct hk_ads7846 *panel);

#ifdef __cplusplus
}
#endif
#endif
