/*
 * Control side of the host kernel layer, for tests and emulators.  Plain C,
 * no kernel headers needed, usable from C++.
 *
 * What it gives:
 *  - the console: everything printk wrote since the last clear, verbatim with
 *    its level prefixes; set HOSTKERNEL_PRINTK=1 to echo it to stderr too;
 *  - modules: load with an insmod-style argument string ("scbr=100 dlybtc=50"),
 *    unload (refused with -EBUSY while references are held, as rmmod does),
 *    parameter values and modinfo tags;
 *  - fault injection by kind name ("kmalloc", "dma_alloc", "ioremap", "irq",
 *    "cdev_add", "chrdev_region", "clk_get", "copy_to_user", ...): the n-th
 *    call of that kind from now (1 = the next one) fails, and so do the
 *    count - 1 after it (count < 0: every one after it);
 *  - a ledger of live resources by kind name (same names): what is taken and
 *    not yet given back, for leak checks after unload or a failed load;
 *  - the simulated clock (nanoseconds) that udelay, mdelay, msleep and
 *    jiffies follow, with listeners called after every advance;
 *  - tasks: each host thread is a task; a test can post a signal to one, and
 *    install an idle hook that runs when a task would sleep (the rest of the
 *    simulated machine advancing), so single-threaded tests never block.
 */
#ifndef HOSTKERNEL_HOSTKERNEL_H
#define HOSTKERNEL_HOSTKERNEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Console */
const char *hk_printk_text(void);	/* valid until the next printk or clear */
char *hk_printk_copy(void);		/* malloc'd snapshot; caller frees */
void hk_printk_clear(void);
size_t hk_printk_length(void);

/* Modules; name NULL selects the only registered module */
int hk_module_load(const char *name, const char *args);
int hk_module_unload(const char *name);
int hk_module_loaded(const char *name);
int hk_module_refcount(const char *name);
const char *hk_module_info(const char *name, const char *tag);
/* Current value of a parameter formatted as sysfs shows it, or NULL */
const char *hk_module_param(const char *name, const char *param, char *buf, size_t size);
int hk_module_param_perm(const char *name, const char *param);

/* Fault injection */
void hk_fault_inject(const char *kind, int nth, int count);
void hk_fault_clear(void);
int hk_fault_hit(const char *kind);	/* used by the simulation: 1 = fail now */
long hk_fault_calls(const char *kind);	/* calls of that kind since start */

/* Resource ledger */
void hk_res_acquire(const char *kind);
void hk_res_release(const char *kind);
long hk_res_live(const char *kind);
long hk_res_live_total(void);
/* "kind=n kind=n" for every kind still live, "" when nothing is */
const char *hk_res_report(char *buf, size_t size);

/* Simulated clock */
uint64_t hk_clock_ns(void);
void hk_clock_advance(uint64_t ns);
int hk_clock_listen(void (*fn)(void *ctx, uint64_t now_ns), void *ctx);
void hk_clock_unlisten(void (*fn)(void *ctx, uint64_t now_ns), void *ctx);
/* Every delay call (udelay, ndelay, mdelay, msleep) is counted and summed */
long hk_delay_calls(void);
uint64_t hk_delay_total_ns(void);
uint64_t hk_delay_last_ns(void);
void hk_delay_reset(void);

/* Tasks */
struct task_struct;
struct task_struct *hk_task_self(void);
void hk_task_signal(struct task_struct *task);	/* make a signal pending */
void hk_task_clear_signal(struct task_struct *task);
int hk_task_sleeping(struct task_struct *task);	/* 1 while blocked in schedule */
/* Called when a task would sleep; returns 0 when it can do nothing more */
typedef int (*hk_idle_fn)(void *ctx);
void hk_set_idle_hook(hk_idle_fn fn, void *ctx);

/* Allocation statistics of kmalloc and friends */
long hk_alloc_calls(void);

#ifdef __cplusplus
}
#endif
#endif
