#ifndef _HK_LINUX_CDEV_H
#define _HK_LINUX_CDEV_H
/* Character device objects; cdev_add makes the numbers openable. */
#include <linux/types.h>
#include <linux/fs.h>

struct cdev {
	struct module *owner;
	const struct file_operations *ops;
	dev_t dev;
	unsigned int count;
	int hk_added;
};

void cdev_init(struct cdev *cdev, const struct file_operations *fops);
struct cdev *cdev_alloc(void);
int cdev_add(struct cdev *p, dev_t dev, unsigned count);
void cdev_del(struct cdev *p);
#endif
