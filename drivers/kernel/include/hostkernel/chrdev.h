/*
 * Host VFS for character devices: open a registered (major, minor) and call
 * its file operations as the kernel's system calls would (module reference
 * on open, big kernel lock round the old ioctl, FIONBIO handled generically).
 * Results are the kernel's: a count or a negative errno value.
 */
#ifndef HOSTKERNEL_CHRDEV_H
#define HOSTKERNEL_CHRDEV_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
struct file;
/* flags as for open(2): O_RDONLY, O_NONBLOCK, ... ; *err gets the failure */
struct file *hk_chrdev_open(unsigned major, unsigned minor, int flags, int *err);
long hk_file_read(struct file *f, void *buf, size_t count);
long hk_file_write(struct file *f, const void *buf, size_t count);
long hk_file_ioctl(struct file *f, unsigned int cmd, unsigned long arg);
/* One poll pass: the mask the driver reports; never sleeps */
unsigned int hk_file_poll(struct file *f);
int hk_file_close(struct file *f);
unsigned int hk_file_flags(struct file *f);
void hk_file_set_flags(struct file *f, unsigned int flags);
/* 1 while a cdev added for that number is live */
int hk_chrdev_live(unsigned major, unsigned minor);
/* 1 while that number is in a registered region */
int hk_chrdev_region_live(unsigned major, unsigned minor);
#ifdef __cplusplus
}
#endif
#endif
