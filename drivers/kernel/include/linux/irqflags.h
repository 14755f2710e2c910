#ifndef _HK_LINUX_IRQFLAGS_H
#define _HK_LINUX_IRQFLAGS_H
/*
 * The simulated processor has one interrupt-disable state shared by all host
 * threads: while it is held, simulated interrupts wait.  It nests.
 */
void hk_local_irq_disable(void);
void hk_local_irq_enable(void);
unsigned long hk_local_irq_save(void);
void hk_local_irq_restore(unsigned long flags);
int hk_irqs_disabled(void);

#define local_irq_disable() hk_local_irq_disable()
#define local_irq_enable() hk_local_irq_enable()
#define local_irq_save(flags) do { (flags) = hk_local_irq_save(); } while (0)
#define local_irq_restore(flags) hk_local_irq_restore(flags)
#define irqs_disabled() hk_irqs_disabled()
#endif
