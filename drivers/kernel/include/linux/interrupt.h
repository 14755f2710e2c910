#ifndef _HK_LINUX_INTERRUPT_H
#define _HK_LINUX_INTERRUPT_H
/*
 * Interrupt lines of the simulated interrupt controller.  Devices drive a
 * line's level; a handler runs whenever its line is high, enabled and the
 * processor takes interrupts (hostkernel/irq.h).  Request failures are
 * injectable (kind "irq"); registered handlers are in the ledger as "irq".
 */
#include <linux/types.h>
#include <linux/irqreturn.h>
#include <linux/hardirq.h>
#include <linux/irqflags.h>
#include <linux/errno.h>

#define IRQF_TRIGGER_NONE	0x00000000
#define IRQF_TRIGGER_RISING	0x00000001
#define IRQF_TRIGGER_FALLING	0x00000002
#define IRQF_TRIGGER_HIGH	0x00000004
#define IRQF_TRIGGER_LOW	0x00000008
#define IRQF_DISABLED		0x00000020
#define IRQF_SAMPLE_RANDOM	0x00000040
#define IRQF_SHARED		0x00000080

typedef irqreturn_t (*irq_handler_t)(int, void *);

int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags,
		const char *devname, void *dev_id);
void free_irq(unsigned int irq, void *dev_id);
void disable_irq(unsigned int irq);
void disable_irq_nosync(unsigned int irq);
void enable_irq(unsigned int irq);
#endif
