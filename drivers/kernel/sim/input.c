/*
 * Input core: device allocation and registration, and event reporting
 * recorded for the tests: only what the 2.6.25 core passes on to its
 * handlers, so a test sees what user space would read.  Unregistering drops the core's reference, which
 * frees the device, as in the kernel.
 */
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <linux/slab.h>
#include <linux/input.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/input_sim.h>

#define MAX_DEVICES 8

static pthread_mutex_t input_lock = PTHREAD_MUTEX_INITIALIZER;
static struct {
	struct input_dev *dev;
	int handle;
} live[MAX_DEVICES];
static int next_handle;
static struct hk_input_event *events;
static size_t nevents, capevents;
static long violations;
static long dropped;

struct input_dev *input_allocate_device(void)
{
	if (hk_fault_hit("input_allocate_device"))
		return NULL;
	return kzalloc(sizeof(struct input_dev), GFP_KERNEL);
}

void input_free_device(struct input_dev *dev)
{
	if (!dev)
		return;
	if (dev->hk_registered)
		hk_bug(__FILE__, __LINE__, "input_free_device on a registered device");
	kfree(dev);
}

int input_register_device(struct input_dev *dev)
{
	int i, slot = -1;

	if (dev->hk_registered)
		hk_bug(__FILE__, __LINE__, "input device registered twice");
	if (hk_fault_hit("input_register_device"))
		return -ENOMEM;
	pthread_mutex_lock(&input_lock);
	for (i = 0; i < MAX_DEVICES && slot < 0; i++)
		if (!live[i].dev)
			slot = i;
	if (slot < 0) {
		pthread_mutex_unlock(&input_lock);
		return -ENFILE;
	}
	/* Every device reports synchronisation events. */
	__set_bit(EV_SYN, dev->evbit);
	live[slot].dev = dev;
	live[slot].handle = next_handle++;
	snprintf(dev->dev.bus_id, sizeof(dev->dev.bus_id), "input%d", live[slot].handle);
	dev->hk_registered = 1;
	pthread_mutex_unlock(&input_lock);
	hk_res_acquire("input_device");
	return 0;
}

void input_unregister_device(struct input_dev *dev)
{
	int i, found = 0;

	pthread_mutex_lock(&input_lock);
	for (i = 0; i < MAX_DEVICES; i++) {
		if (live[i].dev == dev) {
			live[i].dev = NULL;
			found = 1;
		}
	}
	pthread_mutex_unlock(&input_lock);
	if (!found)
		hk_bug(__FILE__, __LINE__, "unregistering an input device not registered");
	hk_res_release("input_device");
	dev->hk_registered = 0;
	kfree(dev);
}

/* input_lock held; the slot of a live device, or -1 (dev not dereferenced) */
static int live_slot(const struct input_dev *dev)
{
	int i;

	for (i = 0; i < MAX_DEVICES; i++)
		if (live[i].dev && live[i].dev == dev)
			return i;
	return -1;
}

static int declared(const struct input_dev *dev, unsigned int type, int code)
{
	if (type > EV_MAX || !test_bit(type, dev->evbit))
		return 0;
	if (code < 0)
		return 1;
	switch (type) {
	case EV_SYN:
		return 1;
	case EV_KEY:
		return code <= KEY_MAX && test_bit(code, dev->keybit);
	case EV_ABS:
		return code <= ABS_MAX && test_bit(code, dev->absbit);
	default:
		return 0;
	}
}

/* An axis value within the fuzz of the last one is smoothed toward it. */
static int defuzz(int value, int old, int fuzz)
{
	if (fuzz) {
		if (value > old - fuzz / 2 && value < old + fuzz / 2)
			return old;
		if (value > old - fuzz && value < old + fuzz)
			return (old * 3 + value) / 4;
		if (value > old - fuzz * 2 && value < old + fuzz * 2)
			return (old + value) / 2;
	}
	return value;
}

/* input_lock held: 1 if the event changes what user space has seen. */
static int passes(struct input_dev *dev, unsigned int type, unsigned int code, int *value)
{
	switch (type) {
	case EV_SYN:
		if (code != SYN_REPORT || dev->sync)
			return 0;
		dev->sync = 1;
		return 1;
	case EV_KEY:
		if (!!test_bit(code, dev->key) == *value)
			return 0;
		if (*value != 2) {
			if (test_bit(code, dev->key))
				__clear_bit(code, dev->key);
			else
				__set_bit(code, dev->key);
		}
		break;
	case EV_ABS:
		*value = defuzz(*value, dev->abs[code], dev->absfuzz[code]);
		if (dev->abs[code] == *value)
			return 0;
		dev->abs[code] = *value;
		break;
	default:
		return 0;
	}
	dev->sync = 0;
	return 1;
}

void input_event(struct input_dev *dev, unsigned int type, unsigned int code, int value)
{
	struct hk_input_event e;
	int slot;

	pthread_mutex_lock(&input_lock);
	slot = live_slot(dev);
	if (slot < 0 || !declared(dev, type, (int)code)) {
		violations++;
		pthread_mutex_unlock(&input_lock);
		return;
	}
	if (!passes(dev, type, code, &value)) {
		dropped++;
		pthread_mutex_unlock(&input_lock);
		return;
	}
	e.device = live[slot].handle;
	e.type = type;
	e.code = code;
	e.value = value;
	e.time_ns = hk_clock_ns();
	if (nevents == capevents) {
		size_t cap = capevents ? 2 * capevents : 256;
		struct hk_input_event *n = realloc(events, cap * sizeof(*n));

		if (!n)
			hk_bug(__FILE__, __LINE__, "out of host memory for input events");
		events = n;
		capevents = cap;
	}
	events[nevents++] = e;
	pthread_mutex_unlock(&input_lock);
}

size_t hk_input_event_count(void)
{
	size_t n;

	pthread_mutex_lock(&input_lock);
	n = nevents;
	pthread_mutex_unlock(&input_lock);
	return n;
}

int hk_input_event_get(size_t i, struct hk_input_event *out)
{
	int ret = -1;

	pthread_mutex_lock(&input_lock);
	if (i < nevents) {
		*out = events[i];
		ret = 0;
	}
	pthread_mutex_unlock(&input_lock);
	return ret;
}

void hk_input_events_clear(void)
{
	pthread_mutex_lock(&input_lock);
	nevents = 0;
	pthread_mutex_unlock(&input_lock);
}

long hk_input_dropped(void)
{
	long n;

	pthread_mutex_lock(&input_lock);
	n = dropped;
	pthread_mutex_unlock(&input_lock);
	return n;
}

long hk_input_violations(void)
{
	long n;

	pthread_mutex_lock(&input_lock);
	n = violations;
	pthread_mutex_unlock(&input_lock);
	return n;
}

int hk_input_find(const char *name)
{
	int i, handle = -1;

	pthread_mutex_lock(&input_lock);
	for (i = 0; i < MAX_DEVICES; i++)
		if (live[i].dev && live[i].dev->name && strcmp(live[i].dev->name, name) == 0)
			handle = live[i].handle;
	pthread_mutex_unlock(&input_lock);
	return handle;
}

int hk_input_registered_count(void)
{
	int i, n = 0;

	pthread_mutex_lock(&input_lock);
	for (i = 0; i < MAX_DEVICES; i++)
		if (live[i].dev)
			n++;
	pthread_mutex_unlock(&input_lock);
	return n;
}

/* input_lock held */
static struct input_dev *by_handle(int handle)
{
	int i;

	for (i = 0; i < MAX_DEVICES; i++)
		if (live[i].dev && live[i].handle == handle)
			return live[i].dev;
	return NULL;
}

int hk_input_describe(int handle, char *phys, size_t phys_size,
		      char *parent, size_t parent_size, unsigned int id[4])
{
	struct input_dev *dev;

	pthread_mutex_lock(&input_lock);
	dev = by_handle(handle);
	if (dev) {
		snprintf(phys, phys_size, "%s", dev->phys ? dev->phys : "");
		snprintf(parent, parent_size, "%s",
			 dev->dev.parent ? dev->dev.parent->bus_id : "");
		id[0] = dev->id.bustype;
		id[1] = dev->id.vendor;
		id[2] = dev->id.product;
		id[3] = dev->id.version;
	}
	pthread_mutex_unlock(&input_lock);
	return dev ? 0 : -1;
}

int hk_input_declares(int handle, unsigned int type, int code)
{
	struct input_dev *dev;
	int ret = 0;

	pthread_mutex_lock(&input_lock);
	dev = by_handle(handle);
	if (dev)
		ret = declared(dev, type, code);
	pthread_mutex_unlock(&input_lock);
	return ret;
}

int hk_input_abs_range(int handle, unsigned int axis, struct hk_input_abs *out)
{
	struct input_dev *dev;
	int ret = -1;

	pthread_mutex_lock(&input_lock);
	dev = by_handle(handle);
	if (dev && axis <= ABS_MAX && test_bit(axis, dev->absbit)) {
		out->min = dev->absmin[axis];
		out->max = dev->absmax[axis];
		out->fuzz = dev->absfuzz[axis];
		out->flat = dev->absflat[axis];
		ret = 0;
	}
	pthread_mutex_unlock(&input_lock);
	return ret;
}
