/*
 * Control side of the I2C simulation, for tests.  Plain C.
 *
 * The board code's part: adapters (buses) by number and the clients
 * declared on them by driver name and address; a client binds as soon as
 * both it and a new-style driver of that name exist.  Every SMBus transfer
 * is recorded with its bus, address, command, data, result and the
 * simulated time at its start.  A transfer takes its bus time on the
 * simulated clock (100 kHz: 9 clocks per byte plus start and stop).
 * Transfers fail through fault injection, kind "i2c_xfer" (hostkernel.h),
 * with the error set here (-EIO by default); driver registration fails
 * with kind "i2c_add_driver".
 */
#ifndef HOSTKERNEL_I2C_SIM_H
#define HOSTKERNEL_I2C_SIM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct i2c_adapter;
struct i2c_client;

enum hk_i2c_kind {
	HK_I2C_WRITE_BYTE_DATA = 1,	/* start, addr+W, command, byte, stop */
	HK_I2C_WRITE_WORD_DATA = 2,	/* start, addr+W, command, low, high, stop */
};

struct hk_i2c_transfer {
	int bus;
	unsigned short addr;
	int kind;			/* enum hk_i2c_kind */
	unsigned char command;
	unsigned short data;		/* the byte or the word */
	int result;			/* 0 or the negative error */
	uint64_t time_ns;		/* simulated time at the start */
};

struct i2c_adapter *hk_i2c_add_adapter(int nr, const char *name, unsigned int id);
/* Unbinds and removes the adapter's clients, then the adapter. */
void hk_i2c_del_adapter(int nr);
/* Declares a client as board code does; binds it if its driver is there. */
struct i2c_client *hk_i2c_new_client(int nr, const char *driver_name, unsigned short addr);
void hk_i2c_del_client(struct i2c_client *client);
/* 1 while a driver is bound to the client */
int hk_i2c_client_bound(const struct i2c_client *client);
/* Removes every client and adapter and clears the log and the error. */
void hk_i2c_reset(void);

size_t hk_i2c_transfer_count(void);
int hk_i2c_transfer_get(size_t i, struct hk_i2c_transfer *out);	/* 0 or -1 */
void hk_i2c_log_clear(void);
void hk_i2c_set_fault_errno(int err);
/* Simulated duration of one transfer of that kind */
uint64_t hk_i2c_transfer_ns(int kind);

#ifdef __cplusplus
}
#endif
#endif
