/*
 * Character device numbers, cdev objects and the host VFS that opens them
 * and calls their file operations the way the kernel's system calls do.
 */
#include <linux/fs.h>
#include <linux/cdev.h>
#include <linux/module.h>
#include <linux/poll.h>
#include <linux/smp_lock.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <asm/uaccess.h>
#include <pthread.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/chrdev.h>

#define MAX_CHRDEV 32
#define FIONBIO_CMD 0x5421

static pthread_mutex_t fs_lock = PTHREAD_MUTEX_INITIALIZER;

static struct region {
	dev_t from;
	unsigned count;
	const char *name;
	const struct file_operations *fops;	/* register_chrdev only */
	struct cdev *own;			/* its cdev, for register_chrdev */
} regions[MAX_CHRDEV];

/*
 * Added cdevs, as the kernel's device map keeps them: cdev_add checks no
 * reservation, and a number covered by several cdevs opens the one with
 * the narrowest range, the latest added among equals.  A driver that adds
 * a number another driver owns thus silently takes it over; only
 * register_chrdev_region refuses a number that is taken.
 */
static struct cdev *cdevs[MAX_CHRDEV];
static unsigned long cdev_order[MAX_CHRDEV];
static unsigned long cdev_added;

static int overlaps(dev_t a, unsigned na, dev_t b, unsigned nb)
{
	return a < b + nb && b < a + na;
}

int register_chrdev_region(dev_t from, unsigned count, const char *name)
{
	int i, slot = -1;

	if (hk_fault_hit("chrdev_region"))
		return -EBUSY;
	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++) {
		if (regions[i].count && overlaps(regions[i].from, regions[i].count, from, count)) {
			pthread_mutex_unlock(&fs_lock);
			return -EBUSY;
		}
		if (!regions[i].count && slot < 0)
			slot = i;
	}
	if (slot < 0) {
		pthread_mutex_unlock(&fs_lock);
		return -ENOMEM;
	}
	regions[slot].from = from;
	regions[slot].count = count;
	regions[slot].name = name;
	regions[slot].fops = NULL;
	regions[slot].own = NULL;
	pthread_mutex_unlock(&fs_lock);
	hk_res_acquire("chrdev_region");
	return 0;
}

int alloc_chrdev_region(dev_t *dev, unsigned baseminor, unsigned count, const char *name)
{
	unsigned major;

	for (major = 254; major > 0; major--) {
		int i, used = 0;

		pthread_mutex_lock(&fs_lock);
		for (i = 0; i < MAX_CHRDEV; i++)
			if (regions[i].count && MAJOR(regions[i].from) == major)
				used = 1;
		pthread_mutex_unlock(&fs_lock);
		if (!used) {
			int err = register_chrdev_region(MKDEV(major, baseminor), count, name);

			if (!err)
				*dev = MKDEV(major, baseminor);
			return err;
		}
	}
	return -EBUSY;
}

void unregister_chrdev_region(dev_t from, unsigned count)
{
	int i;

	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++) {
		if (regions[i].count && regions[i].from == from && regions[i].count == count) {
			regions[i].count = 0;
			pthread_mutex_unlock(&fs_lock);
			hk_res_release("chrdev_region");
			return;
		}
	}
	pthread_mutex_unlock(&fs_lock);
	printk(KERN_WARNING "unregister_chrdev_region: %u:%u not registered\n",
	       MAJOR(from), MINOR(from));
}

void cdev_init(struct cdev *cdev, const struct file_operations *fops)
{
	memset(cdev, 0, sizeof(*cdev));
	cdev->ops = fops;
}

struct cdev *cdev_alloc(void)
{
	return kzalloc(sizeof(struct cdev), GFP_KERNEL);
}

int cdev_add(struct cdev *p, dev_t dev, unsigned count)
{
	int i;

	if (hk_fault_hit("cdev_add"))
		return -ENOMEM;
	p->dev = dev;
	p->count = count;
	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++) {
		if (!cdevs[i]) {
			cdevs[i] = p;
			cdev_order[i] = ++cdev_added;
			p->hk_added = 1;
			pthread_mutex_unlock(&fs_lock);
			hk_res_acquire("cdev");
			return 0;
		}
	}
	pthread_mutex_unlock(&fs_lock);
	return -ENOMEM;
}

void cdev_del(struct cdev *p)
{
	int i;

	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++) {
		if (cdevs[i] == p) {
			cdevs[i] = NULL;
			p->hk_added = 0;
			pthread_mutex_unlock(&fs_lock);
			hk_res_release("cdev");
			return;
		}
	}
	pthread_mutex_unlock(&fs_lock);
	hk_bug(__FILE__, __LINE__, "cdev_del of a cdev that was never added");
}

/* The old interface: 256 minors and a cdev of the region's own */
int register_chrdev(unsigned int major, const char *name, const struct file_operations *fops)
{
	dev_t dev;
	struct cdev *c;
	int err, i;

	if (major) {
		err = register_chrdev_region(MKDEV(major, 0), 256, name);
		dev = MKDEV(major, 0);
	} else {
		err = alloc_chrdev_region(&dev, 0, 256, name);
	}
	if (err)
		return err;
	c = malloc(sizeof(*c));
	if (!c) {
		unregister_chrdev_region(dev, 256);
		return -ENOMEM;
	}
	cdev_init(c, fops);
	c->owner = fops->owner;
	err = cdev_add(c, dev, 256);
	if (err) {
		free(c);
		unregister_chrdev_region(dev, 256);
		return err;
	}
	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++)
		if (regions[i].count && regions[i].from == dev)
			regions[i].own = c;
	pthread_mutex_unlock(&fs_lock);
	return major ? 0 : (int)MAJOR(dev);
}

void unregister_chrdev(unsigned int major, const char *name)
{
	struct cdev *c = NULL;
	int i;

	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++)
		if (regions[i].count && regions[i].from == MKDEV(major, 0) && regions[i].own)
			c = regions[i].own;
	pthread_mutex_unlock(&fs_lock);
	if (!c) {
		printk(KERN_WARNING "unregister_chrdev: %u not registered\n", major);
		return;
	}
	cdev_del(c);
	free(c);
	unregister_chrdev_region(MKDEV(major, 0), 256);
}

loff_t no_llseek(struct file *file, loff_t offset, int origin)
{
	return -ESPIPE;
}

int nonseekable_open(struct inode *inode, struct file *filp)
{
	return 0;
}

/* Big kernel lock */
static pthread_mutex_t bkl;
static pthread_once_t bkl_once = PTHREAD_ONCE_INIT;
static __thread int bkl_depth;

static void bkl_init(void)
{
	pthread_mutexattr_t a;

	pthread_mutexattr_init(&a);
	pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
	pthread_mutex_init(&bkl, &a);
	pthread_mutexattr_destroy(&a);
}

void lock_kernel(void)
{
	pthread_once(&bkl_once, bkl_init);
	pthread_mutex_lock(&bkl);
	bkl_depth++;
}

void unlock_kernel(void)
{
	BUG_ON(bkl_depth <= 0);
	bkl_depth--;
	pthread_mutex_unlock(&bkl);
}

int hk_kernel_locked(void)
{
	return bkl_depth > 0;
}

/* Host VFS */

struct hk_open_file {
	struct file file;
	struct inode inode;
};

static struct cdev *cdev_lookup(dev_t dev)
{
	struct cdev *found = NULL;
	unsigned long order = 0;
	int i;

	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++) {
		struct cdev *c = cdevs[i];

		if (!c || dev < c->dev || dev >= c->dev + c->count)
			continue;
		if (!found || c->count < found->count ||
		    (c->count == found->count && cdev_order[i] > order)) {
			found = c;
			order = cdev_order[i];
		}
	}
	pthread_mutex_unlock(&fs_lock);
	return found;
}

int hk_chrdev_live(unsigned major, unsigned minor)
{
	return cdev_lookup(MKDEV(major, minor)) != NULL;
}

int hk_chrdev_region_live(unsigned major, unsigned minor)
{
	dev_t dev = MKDEV(major, minor);
	int i, live = 0;

	pthread_mutex_lock(&fs_lock);
	for (i = 0; i < MAX_CHRDEV; i++)
		if (regions[i].count && overlaps(regions[i].from, regions[i].count, dev, 1))
			live = 1;
	pthread_mutex_unlock(&fs_lock);
	return live;
}

struct file *hk_chrdev_open(unsigned major, unsigned minor, int flags, int *err)
{
	struct hk_open_file *of;
	const struct file_operations *fops;
	struct cdev *c = cdev_lookup(MKDEV(major, minor));
	int e = 0;

	if (!c) {
		*err = -ENXIO;
		return NULL;
	}
	fops = c->ops;
	if (!fops || !try_module_get(fops->owner)) {
		*err = -ENXIO;
		return NULL;
	}
	of = calloc(1, sizeof(*of));
	if (!of) {
		module_put(fops->owner);
		*err = -ENOMEM;
		return NULL;
	}
	of->inode.i_rdev = MKDEV(major, minor);
	of->inode.i_cdev = c;
	of->inode.i_mode = 0020000;	/* S_IFCHR */
	of->file.f_op = fops;
	of->file.f_flags = (unsigned)flags;
	of->file.f_mode = ((flags & O_ACCMODE) != O_WRONLY ? FMODE_READ : 0) |
			  ((flags & O_ACCMODE) != O_RDONLY ? FMODE_WRITE : 0);
	of->file.f_inode = &of->inode;
	if (fops->open)
		e = fops->open(&of->inode, &of->file);
	if (e) {
		module_put(fops->owner);
		free(of);
		*err = e;
		return NULL;
	}
	*err = 0;
	return &of->file;
}

long hk_file_read(struct file *f, void *buf, size_t count)
{
	if (!(f->f_mode & FMODE_READ))
		return -EBADF;
	if (!f->f_op->read)
		return -EINVAL;
	return f->f_op->read(f, buf, count, &f->f_pos);
}

long hk_file_write(struct file *f, const void *buf, size_t count)
{
	if (!(f->f_mode & FMODE_WRITE))
		return -EBADF;
	if (!f->f_op->write)
		return -EINVAL;
	return f->f_op->write(f, buf, count, &f->f_pos);
}

long hk_file_ioctl(struct file *f, unsigned int cmd, unsigned long arg)
{
	long ret;

	if (cmd == FIONBIO_CMD) {
		int on;

		if (hk_get_user(&on, (void *)arg, sizeof(on)))
			return -EFAULT;
		if (on)
			f->f_flags |= O_NONBLOCK;
		else
			f->f_flags &= ~O_NONBLOCK;
		return 0;
	}
	if (f->f_op->unlocked_ioctl)
		return f->f_op->unlocked_ioctl(f, cmd, arg);
	if (!f->f_op->ioctl)
		return -ENOTTY;
	lock_kernel();
	ret = f->f_op->ioctl(f->f_inode, f, cmd, arg);
	unlock_kernel();
	return ret;
}

static void poll_note(struct file *f, wait_queue_head_t *q, poll_table *p)
{
}

unsigned int hk_file_poll(struct file *f)
{
	poll_table pt = { poll_note };

	if (!f->f_op->poll)
		return POLLIN | POLLOUT | POLLRDNORM | POLLWRNORM;	/* the kernel's default */
	return f->f_op->poll(f, &pt);
}

int hk_file_close(struct file *f)
{
	struct hk_open_file *of = container_of(f, struct hk_open_file, file);
	const struct file_operations *fops = f->f_op;
	int ret = 0;

	if (fops->release)
		ret = fops->release(f->f_inode, f);
	module_put(fops->owner);
	free(of);
	return ret;
}

unsigned int hk_file_flags(struct file *f)
{
	return f->f_flags;
}

void hk_file_set_flags(struct file *f, unsigned int flags)
{
	f->f_flags = flags;
}
