/*
 * A small module for testing the host kernel layer itself: parameters of
 * every type, and thin entry points into kernel interfaces that the C++
 * tests call (they cannot include the kernel headers).
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/slab.h>
#include <linux/delay.h>
#include <linux/jiffies.h>
#include <linux/sched.h>
#include <linux/wait.h>
#include <linux/interrupt.h>
#include <linux/spinlock.h>
#include <linux/dma-mapping.h>
#include <linux/clk.h>
#include <linux/fs.h>
#include <linux/cdev.h>
#include <linux/input.h>
#include <asm/io.h>
#include <asm/uaccess.h>

static int p_int = -5;
static unsigned short p_ushort = 7;
static unsigned char p_byte = 1;
static char *p_charp = "none";
static int p_bool;
static long p_long = 1;
module_param(p_int, int, 0644);
module_param(p_ushort, ushort, 0444);
module_param(p_byte, byte, 0);
module_param(p_charp, charp, 0444);
module_param(p_bool, bool, 0444);
module_param(p_long, long, 0444);

static int init_result;
static int inits, exits;

static int __init probe_init(void)
{
	inits++;
	printk(KERN_INFO "probe: int %d ushort %u byte %u charp %s bool %d long %ld\n",
	       p_int, p_ushort, p_byte, p_charp, p_bool, p_long);
	return init_result;
}

static void __exit probe_exit(void)
{
	exits++;
}

module_init(probe_init);
module_exit(probe_exit);
MODULE_LICENSE("GPL");
MODULE_AUTHOR("probe");

void probe_set_init_result(int r) { init_result = r; }
int probe_inits(void) { return inits; }
int probe_exits(void) { return exits; }

void *probe_kmalloc(size_t n, int atomic) { return kmalloc(n, atomic ? GFP_ATOMIC : GFP_KERNEL); }
void *probe_kzalloc(size_t n) { return kzalloc(n, GFP_KERNEL); }
void probe_kfree(void *p) { kfree(p); }

void probe_udelay(unsigned long us) { udelay(us); }
void probe_msleep(unsigned int ms) { msleep(ms); }
unsigned long probe_jiffies(void) { return jiffies; }

unsigned long probe_copy_to_user(void *to, const void *from, unsigned long n) { return copy_to_user(to, from, n); }
unsigned long probe_copy_from_user(void *to, const void *from, unsigned long n) { return copy_from_user(to, from, n); }
int probe_put_user(int v, int *p) { return put_user(v, p); }
int probe_get_user(int *v, const int *p) { return get_user(*v, p); }
int probe_access_ok(const void *p, unsigned long n) { return access_ok(VERIFY_WRITE, p, n); }

void *probe_ioremap(unsigned long phys, size_t size) { return ioremap(phys, size); }
void probe_iounmap(void *p) { iounmap(p); }
unsigned probe_readl(void *base, unsigned off) { return readl(base + off); }
void probe_writel(unsigned v, void *base, unsigned off) { writel(v, base + off); }

void *probe_dma_alloc(size_t n, unsigned *bus) { dma_addr_t d; void *p = dma_alloc_coherent(NULL, n, &d, GFP_KERNEL); *bus = d; return p; }
void probe_dma_free(size_t n, void *p, unsigned bus) { dma_free_coherent(NULL, n, p, bus); }

long probe_clk(const char *name, int enable)
{
	struct clk *c = clk_get(NULL, name);
	long rate;

	if (IS_ERR(c))
		return PTR_ERR(c);
	rate = (long)clk_get_rate(c);
	if (enable) {
		clk_enable(c);
		clk_disable(c);
	}
	clk_put(c);
	return rate;
}

/* Interrupts: the handler counts and records whether it ran in interrupt context */
static long irq_calls;
static int irq_in_ctx;
static void (*irq_action)(void);

static irqreturn_t probe_handler(int irq, void *dev)
{
	irq_calls++;
	irq_in_ctx = in_interrupt() && irqs_disabled();
	if (irq_action)
		irq_action();
	return IRQ_HANDLED;
}

int probe_request_irq(unsigned irq, unsigned long flags) { return request_irq(irq, probe_handler, flags, "probe", &irq_calls); }
void probe_free_irq(unsigned irq) { free_irq(irq, &irq_calls); }
long probe_irq_calls(void) { return irq_calls; }
int probe_irq_in_context(void) { return irq_in_ctx; }
void probe_set_irq_action(void (*fn)(void)) { irq_action = fn; }
unsigned long probe_irq_save(void) { unsigned long f; local_irq_save(f); return f; }
void probe_irq_restore(unsigned long f) { local_irq_restore(f); }

/* Wait queue: a condition set by probe_wake (from any context) */
static DECLARE_WAIT_QUEUE_HEAD(probe_wq);
static volatile int probe_cond;

int probe_wait(void)
{
	int r = wait_event_interruptible(probe_wq, probe_cond);

	if (!r)
		probe_cond = 0;
	return r;
}

void probe_wake(void)
{
	probe_cond = 1;
	wake_up_interruptible(&probe_wq);
}

/* A character device whose read reports how it was called */
static ssize_t cd_read(struct file *f, char __user *buf, size_t n, loff_t *pos)
{
	return f->f_flags & O_NONBLOCK ? -EAGAIN : (ssize_t)n;
}

static int cd_ioctl(struct inode *i, struct file *f, unsigned int cmd, unsigned long arg)
{
	extern int hk_kernel_locked(void);

	return hk_kernel_locked() ? (int)cmd : -EDEADLK;
}

static struct file_operations cd_fops = {
	.owner = THIS_MODULE,
	.read = cd_read,
	.ioctl = cd_ioctl,
};
static struct cdev cd;

int probe_cdev_add(unsigned major, unsigned minor)
{
	cdev_init(&cd, &cd_fops);
	cd.owner = THIS_MODULE;
	return cdev_add(&cd, MKDEV(major, minor), 1);
}

void probe_cdev_del(void) { cdev_del(&cd); }
int probe_register_region(unsigned major, unsigned minor, unsigned n) { return register_chrdev_region(MKDEV(major, minor), n, "probe"); }
void probe_unregister_region(unsigned major, unsigned minor, unsigned n) { unregister_chrdev_region(MKDEV(major, minor), n); }

/* A second device, to see which of two covering a number opens: its read fails */
static ssize_t cd_wide_read(struct file *f, char __user *buf, size_t n, loff_t *pos)
{
	return -EIO;
}

static struct file_operations cd_wide_fops = {
	.owner = THIS_MODULE,
	.read = cd_wide_read,
};
static struct cdev cd_wide;

int probe_cdev_add_wide(unsigned major, unsigned count)
{
	cdev_init(&cd_wide, &cd_wide_fops);
	cd_wide.owner = THIS_MODULE;
	return cdev_add(&cd_wide, MKDEV(major, 0), count);
}

void probe_cdev_del_wide(void) { cdev_del(&cd_wide); }

/* Console */
int probe_printk(const char *fmt, ...)
{
	va_list args;
	int n;

	va_start(args, fmt);
	n = vprintk(fmt, args);
	va_end(args);
	return n;
}

/* Input: a device with a key and one axis of the given fuzz */
static struct input_dev *probe_input;

int probe_input_register(int fuzz)
{
	int err;

	probe_input = input_allocate_device();
	if (!probe_input)
		return -ENOMEM;
	probe_input->name = "probe";
	__set_bit(EV_KEY, probe_input->evbit);
	__set_bit(EV_ABS, probe_input->evbit);
	__set_bit(BTN_TOUCH, probe_input->keybit);
	input_set_abs_params(probe_input, ABS_X, 0, 4095, fuzz, 0);
	err = input_register_device(probe_input);
	if (err) {
		input_free_device(probe_input);
		probe_input = NULL;
	}
	return err;
}

void probe_input_event(unsigned type, unsigned code, int value) { input_event(probe_input, type, code, value); }

void probe_input_unregister(void)
{
	input_unregister_device(probe_input);
	probe_input = NULL;
}
