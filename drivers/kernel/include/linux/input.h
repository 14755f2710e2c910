#ifndef __KERNEL__
#include_next <linux/input.h>
#else
#ifndef _HK_LINUX_INPUT_H
#define _HK_LINUX_INPUT_H
/*
 * Input core as a 2.6.25 device driver sees it: allocate a device, declare
 * its event types, keys and absolute axes, register it and report events.
 * As in 2.6.25 the core passes on only what changes the device's state: a
 * key already in the reported state, an axis value equal to the last one
 * (after fuzz) and a SYN_REPORT with nothing passed on since the last one
 * are dropped.  The host simulation (hostkernel/input_sim.h) records what
 * is passed on, as user space would read it, and catches events on devices
 * that are not registered or that do not declare them.
 */
#include <linux/types.h>
#include <linux/bitops.h>
#include <linux/device.h>

#define EV_SYN		0x00
#define EV_KEY		0x01
#define EV_REL		0x02
#define EV_ABS		0x03
#define EV_MSC		0x04
#define EV_MAX		0x1f
#define EV_CNT		(EV_MAX + 1)

#define SYN_REPORT	0

#define BTN_TOUCH	0x14a
#define BTN_STYLUS	0x14b
#define KEY_MAX		0x1ff
#define KEY_CNT		(KEY_MAX + 1)

#define ABS_X		0x00
#define ABS_Y		0x01
#define ABS_PRESSURE	0x18
#define ABS_MAX		0x3f
#define ABS_CNT		(ABS_MAX + 1)

#define BUS_SPI		0x1C

struct input_id {
	u16 bustype;
	u16 vendor;
	u16 product;
	u16 version;
};

struct input_dev {
	const char *name;
	const char *phys;
	const char *uniq;
	struct input_id id;

	unsigned long evbit[BITS_TO_LONGS(EV_CNT)];
	unsigned long keybit[BITS_TO_LONGS(KEY_CNT)];
	unsigned long absbit[BITS_TO_LONGS(ABS_CNT)];

	unsigned long key[BITS_TO_LONGS(KEY_CNT)];
	int abs[ABS_MAX + 1];
	int absmax[ABS_MAX + 1];
	int absmin[ABS_MAX + 1];
	int absfuzz[ABS_MAX + 1];
	int absflat[ABS_MAX + 1];

	int sync;		/* nothing passed on since the last SYN_REPORT */

	struct device dev;
	int hk_registered;
};

struct input_dev *input_allocate_device(void);
void input_free_device(struct input_dev *dev);
int input_register_device(struct input_dev *dev);
void input_unregister_device(struct input_dev *dev);

void input_event(struct input_dev *dev, unsigned int type, unsigned int code, int value);

static inline void input_report_key(struct input_dev *dev, unsigned int code, int value)
{
	input_event(dev, EV_KEY, code, !!value);
}

static inline void input_report_abs(struct input_dev *dev, unsigned int code, int value)
{
	input_event(dev, EV_ABS, code, value);
}

static inline void input_sync(struct input_dev *dev)
{
	input_event(dev, EV_SYN, SYN_REPORT, 0);
}

static inline void input_set_abs_params(struct input_dev *dev, int axis,
					int min, int max, int fuzz, int flat)
{
	dev->absmin[axis] = min;
	dev->absmax[axis] = max;
	dev->absfuzz[axis] = fuzz;
	dev->absflat[axis] = flat;
	dev->absbit[BIT_WORD(axis)] |= BIT_MASK(axis);
}
#endif
#endif
