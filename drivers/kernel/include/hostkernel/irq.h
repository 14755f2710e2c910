/*
 * The simulated interrupt controller.  A device (or a test) sets a line's
 * level; while it is high, enabled, not held and the processor takes
 * interrupts, the handler runs again and again (level triggered) on the
 * thread that raised it or enabled interrupts.  hk_irq_hold models a late
 * handler: the line is serviced only when released.
 */
#ifndef HOSTKERNEL_IRQ_H
#define HOSTKERNEL_IRQ_H
#ifdef __cplusplus
extern "C" {
#endif
void hk_irq_set_level(unsigned irq, int level);
/* Call the handler once now, whatever the level (a spurious interrupt);
 * returns its result, or -1 without a handler */
int hk_irq_trigger(unsigned irq);
void hk_irq_hold(unsigned irq, int hold);
int hk_irq_registered(unsigned irq);	/* handlers on the line */
const char *hk_irq_name(unsigned irq);	/* name of the first handler */
unsigned long hk_irq_flags(unsigned irq);
void *hk_irq_dev_id(unsigned irq);
long hk_irq_count(unsigned irq);	/* handler runs since start */
#ifdef __cplusplus
}
#endif
#endif
