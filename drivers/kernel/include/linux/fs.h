#ifndef __KERNEL__
#include_next <linux/fs.h>
#else
#ifndef _HK_LINUX_FS_H
#define _HK_LINUX_FS_H
/*
 * Files, inodes and file operations as a character driver sees them, and the
 * character device number registry.  The host VFS (hostkernel/chrdev.h)
 * opens a registered number and calls the operations as the kernel would.
 */
#include <linux/types.h>
#include <linux/kdev_t.h>
#include <linux/errno.h>
#include <linux/wait.h>

#ifndef O_ACCMODE
#define O_ACCMODE	00000003
#define O_RDONLY	00000000
#define O_WRONLY	00000001
#define O_RDWR		00000002
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK	00004000
#endif
#ifndef O_NDELAY
#define O_NDELAY	O_NONBLOCK
#endif

#define FMODE_READ	1
#define FMODE_WRITE	2

struct module;
struct cdev;
struct poll_table_struct;
struct vm_area_struct;
struct dentry;
struct file;
typedef void *fl_owner_t;

struct inode {
	dev_t i_rdev;
	umode_t i_mode;
	struct cdev *i_cdev;
	void *i_private;
};

struct file_operations {
	struct module *owner;
	loff_t (*llseek)(struct file *, loff_t, int);
	ssize_t (*read)(struct file *, char __user *, size_t, loff_t *);
	ssize_t (*write)(struct file *, const char __user *, size_t, loff_t *);
	unsigned int (*poll)(struct file *, struct poll_table_struct *);
	int (*ioctl)(struct inode *, struct file *, unsigned int, unsigned long);
	long (*unlocked_ioctl)(struct file *, unsigned int, unsigned long);
	long (*compat_ioctl)(struct file *, unsigned int, unsigned long);
	int (*mmap)(struct file *, struct vm_area_struct *);
	int (*open)(struct inode *, struct file *);
	int (*flush)(struct file *, fl_owner_t id);
	int (*release)(struct inode *, struct file *);
	int (*fsync)(struct file *, struct dentry *, int datasync);
	int (*fasync)(int, struct file *, int);
};

struct file {
	const struct file_operations *f_op;
	unsigned int f_flags;
	unsigned int f_mode;
	loff_t f_pos;
	void *private_data;
	struct inode *f_inode;	/* the host's stand-in for f_path.dentry->d_inode */
};

static inline unsigned iminor(const struct inode *inode)
{
	return MINOR(inode->i_rdev);
}

static inline unsigned imajor(const struct inode *inode)
{
	return MAJOR(inode->i_rdev);
}

int register_chrdev_region(dev_t from, unsigned count, const char *name);
int alloc_chrdev_region(dev_t *dev, unsigned baseminor, unsigned count, const char *name);
void unregister_chrdev_region(dev_t from, unsigned count);
int register_chrdev(unsigned int major, const char *name, const struct file_operations *fops);
void unregister_chrdev(unsigned int major, const char *name);

loff_t no_llseek(struct file *file, loff_t offset, int origin);
int nonseekable_open(struct inode *inode, struct file *filp);
#endif
#endif
