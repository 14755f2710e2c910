/*
 * The simulated interrupt controller: level-triggered lines, handlers run on
 * the thread that raised the line (or that enabled interrupts again while it
 * was pending), under the processor's interrupt-disable state.
 */
#include <linux/interrupt.h>
#include <linux/kernel.h>
#include <asm/irq.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/irq.h>
#include "hk_internal.h"

#define MAX_STORM 100000

struct line {
	irq_handler_t handler;
	unsigned long flags;
	const char *name;
	void *dev_id;
	int level;
	int hold;
	int disabled;
	int running;
	long count;
};

static pthread_mutex_t lines_lock = PTHREAD_MUTEX_INITIALIZER;
static struct line lines[NR_IRQS];

static void deliver(unsigned irq);

static void deliver_pending(void)
{
	unsigned i;

	for (i = 0; i < NR_IRQS; i++)
		if (lines[i].level)
			deliver(i);
}

/* Run the line's handler while it stays deliverable. */
static void deliver(unsigned irq)
{
	struct line *l = &lines[irq];
	int storm = 0;

	for (;;) {
		irq_handler_t h;
		void *dev_id;

		pthread_mutex_lock(&lines_lock);
		if (!l->level || l->hold || l->disabled || !l->handler || l->running) {
			pthread_mutex_unlock(&lines_lock);
			return;
		}
		pthread_mutex_unlock(&lines_lock);
		if (!hk_cpu_irq_enter())
			return;	/* this thread holds interrupts off: delivered on enable */
		pthread_mutex_lock(&lines_lock);
		h = l->handler;
		dev_id = l->dev_id;
		if (!l->level || l->hold || l->disabled || !h || l->running) {
			pthread_mutex_unlock(&lines_lock);
			hk_cpu_irq_exit();
			return;
		}
		l->running = 1;
		l->count++;
		pthread_mutex_unlock(&lines_lock);
		h((int)irq, dev_id);
		pthread_mutex_lock(&lines_lock);
		l->running = 0;
		pthread_mutex_unlock(&lines_lock);
		hk_cpu_irq_exit();
		if (++storm == MAX_STORM) {
			fprintf(stderr, "hostkernel: interrupt %u stays asserted after %d handler runs\n",
				irq, MAX_STORM);
			abort();
		}
	}
}

int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags,
		const char *devname, void *dev_id)
{
	if (irq >= NR_IRQS || !handler)
		return -EINVAL;
	if (hk_fault_hit("irq"))
		return -EBUSY;
	hk_irq_pending_hook = deliver_pending;
	pthread_mutex_lock(&lines_lock);
	if (lines[irq].handler) {
		pthread_mutex_unlock(&lines_lock);
		return -EBUSY;
	}
	lines[irq].handler = handler;
	lines[irq].flags = flags;
	lines[irq].name = devname;
	lines[irq].dev_id = dev_id;
	lines[irq].disabled = 0;
	pthread_mutex_unlock(&lines_lock);
	hk_res_acquire("irq");
	deliver(irq);
	return 0;
}

void free_irq(unsigned int irq, void *dev_id)
{
	pthread_mutex_lock(&lines_lock);
	if (irq >= NR_IRQS || !lines[irq].handler || lines[irq].dev_id != dev_id) {
		pthread_mutex_unlock(&lines_lock);
		printk(KERN_ERR "Trying to free already-free IRQ %u\n", irq);
		return;
	}
	lines[irq].handler = NULL;
	lines[irq].name = NULL;
	pthread_mutex_unlock(&lines_lock);
	hk_res_release("irq");
}

void disable_irq_nosync(unsigned int irq)
{
	pthread_mutex_lock(&lines_lock);
	if (irq < NR_IRQS)
		lines[irq].disabled++;
	pthread_mutex_unlock(&lines_lock);
}

void disable_irq(unsigned int irq)
{
	disable_irq_nosync(irq);
}

void enable_irq(unsigned int irq)
{
	pthread_mutex_lock(&lines_lock);
	if (irq < NR_IRQS && lines[irq].disabled)
		lines[irq].disabled--;
	pthread_mutex_unlock(&lines_lock);
	if (irq < NR_IRQS)
		deliver(irq);
}

void hk_irq_set_level(unsigned irq, int level)
{
	if (irq >= NR_IRQS)
		return;
	hk_irq_pending_hook = deliver_pending;
	pthread_mutex_lock(&lines_lock);
	lines[irq].level = !!level;
	pthread_mutex_unlock(&lines_lock);
	if (level)
		deliver(irq);
}

int hk_irq_trigger(unsigned irq)
{
	irq_handler_t h;
	void *dev_id;
	int ret;

	if (irq >= NR_IRQS)
		return -1;
	pthread_mutex_lock(&lines_lock);
	h = lines[irq].handler;
	dev_id = lines[irq].dev_id;
	pthread_mutex_unlock(&lines_lock);
	if (!h)
		return -1;
	if (!hk_cpu_irq_enter())
		hk_bug(__FILE__, __LINE__, "interrupt triggered with interrupts disabled");
	pthread_mutex_lock(&lines_lock);
	lines[irq].count++;
	lines[irq].running = 1;
	pthread_mutex_unlock(&lines_lock);
	ret = h((int)irq, dev_id);
	pthread_mutex_lock(&lines_lock);
	lines[irq].running = 0;
	pthread_mutex_unlock(&lines_lock);
	hk_cpu_irq_exit();
	deliver(irq);
	return ret;
}

void hk_irq_hold(unsigned irq, int hold)
{
	if (irq >= NR_IRQS)
		return;
	pthread_mutex_lock(&lines_lock);
	lines[irq].hold = hold;
	pthread_mutex_unlock(&lines_lock);
	if (!hold)
		deliver(irq);
}

int hk_irq_registered(unsigned irq)
{
	return irq < NR_IRQS && lines[irq].handler != NULL;
}

const char *hk_irq_name(unsigned irq)
{
	return irq < NR_IRQS ? lines[irq].name : NULL;
}

unsigned long hk_irq_flags(unsigned irq)
{
	return irq < NR_IRQS ? lines[irq].flags : 0;
}

void *hk_irq_dev_id(unsigned irq)
{
	return irq < NR_IRQS ? lines[irq].dev_id : NULL;
}

long hk_irq_count(unsigned irq)
{
	return irq < NR_IRQS ? lines[irq].count : 0;
}
