#ifndef _HK_LINUX_DEVICE_H
#define _HK_LINUX_DEVICE_H
/*
 * The little of the driver model that modules touch directly, as 2.6.25 has
 * it: a device is named by its bus_id (dev_name() came later).
 */
#include <linux/types.h>
#include <linux/kernel.h>
#include <linux/list.h>

struct device;
struct device_driver;

struct bus_type {
	const char *name;
	int (*match)(struct device *dev, struct device_driver *drv);
	int (*probe)(struct device *dev);
	int (*remove)(struct device *dev);
};

struct device_driver {
	const char *name;
	struct bus_type *bus;
	struct module *owner;
};

struct device {
	struct device *parent;
	char bus_id[20];
	struct bus_type *bus;
	void *platform_data;
	void *driver_data;
	struct device_driver *driver;
	u64 *dma_mask;
	void (*release)(struct device *dev);
};

static inline void *dev_get_drvdata(struct device *dev)
{
	return dev->driver_data;
}

static inline void dev_set_drvdata(struct device *dev, void *data)
{
	dev->driver_data = data;
}

/* What dev_printk names a device by: its driver, else its bus. */
static inline const char *dev_driver_string(struct device *dev)
{
	return dev->driver ? dev->driver->name :
	       (dev->bus ? dev->bus->name : "");
}

#define dev_printk(level, dev, fmt, ...) \
	printk(level "%s %s: " fmt, dev_driver_string(dev), (dev)->bus_id, ##__VA_ARGS__)
#define dev_err(dev, fmt, ...) dev_printk(KERN_ERR, dev, fmt, ##__VA_ARGS__)
#define dev_warn(dev, fmt, ...) dev_printk(KERN_WARNING, dev, fmt, ##__VA_ARGS__)
#define dev_info(dev, fmt, ...) dev_printk(KERN_INFO, dev, fmt, ##__VA_ARGS__)
#ifdef DEBUG
#define dev_dbg(dev, fmt, ...) dev_printk(KERN_DEBUG, dev, fmt, ##__VA_ARGS__)
#else
#define dev_dbg(dev, fmt, ...) do { if (0) dev_printk(KERN_DEBUG, dev, fmt, ##__VA_ARGS__); } while (0)
#endif
#endif
