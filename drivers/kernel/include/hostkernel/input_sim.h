/*
 * Control side of the input core simulation, for tests.  Plain C; the
 * event type and code numbers are the system's <linux/input.h> ones.
 *
 * Every event the input core passes on to user space is recorded in order,
 * with the simulated time.  Like the 2.6.25 core it drops, and only counts,
 * a key event that does not change the key's state, an axis value equal to
 * the last one (after the axis's fuzz) and a SYN_REPORT with nothing passed
 * on since the last one.  An event to a device that is not registered
 * (never, or no longer) or that the device did not declare is not recorded
 * but counted as a violation.  Devices are known
 * by a handle: the number of their registration since start.
 *
 * Fault kinds (hostkernel.h): "input_allocate_device" (NULL),
 * "input_register_device" (-ENOMEM).  Allocated devices show in the
 * ledger as "kmalloc", registered ones also as "input_device".
 */
#ifndef HOSTKERNEL_INPUT_SIM_H
#define HOSTKERNEL_INPUT_SIM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct hk_input_event {
	int device;		/* handle */
	unsigned int type;
	unsigned int code;
	int value;
	uint64_t time_ns;
};

struct hk_input_abs {
	int min, max, fuzz, flat;
};

size_t hk_input_event_count(void);
int hk_input_event_get(size_t i, struct hk_input_event *out);	/* 0 or -1 */
void hk_input_events_clear(void);
long hk_input_violations(void);
long hk_input_dropped(void);	/* events the core did not pass on */

/* Handle of the registered device with that name, or -1 */
int hk_input_find(const char *name);
int hk_input_registered_count(void);
/* Properties of a registered device; 0 or -1 when the handle is not live */
int hk_input_describe(int handle, char *phys, size_t phys_size,
		      char *parent, size_t parent_size,
		      unsigned int id[4]);
/* 1 if the device declares the event type (and code), else 0 */
int hk_input_declares(int handle, unsigned int type, int code);
/* Range of a declared absolute axis; 0 or -1 */
int hk_input_abs_range(int handle, unsigned int axis, struct hk_input_abs *out);

#ifdef __cplusplus
}
#endif
#endif
