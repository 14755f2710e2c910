/*
 * Stand-in for the sound core, which owns character major 14 (the OSS
 * devices; 14:3 is /dev/dsp) on a kernel built with sound support: the
 * driver rfspidrv must not take its numbers from under it.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>

#define SOUND_MAJOR	14

static int opens;

static int soundcore_open(struct inode *inode, struct file *file)
{
	opens++;
	return 0;
}

static const struct file_operations soundcore_fops = {
	.owner = THIS_MODULE,
	.open = soundcore_open,
};

static int __init soundcore_init(void)
{
	return register_chrdev(SOUND_MAJOR, "sound", &soundcore_fops);
}

static void __exit soundcore_exit(void)
{
	unregister_chrdev(SOUND_MAJOR, "sound");
}

module_init(soundcore_init);
module_exit(soundcore_exit);
MODULE_LICENSE("GPL");

/* Opens that reached this driver, for the tests */
int soundcore_opens(void)
{
	return opens;
}
