/* Shared between the parts of the simulation; not for modules or tests. */
#ifndef HK_INTERNAL_H
#define HK_INTERNAL_H

/* Interrupt entry: 0 when the calling thread has interrupts disabled (the
 * caller keeps the interrupt pending), else interrupts are now held for the
 * handler until hk_cpu_irq_exit(). */
int hk_cpu_irq_enter(void);
void hk_cpu_irq_exit(void);
/* Set by the interrupt controller: delivers what became deliverable when a
 * thread enabled interrupts again. */
extern void (*hk_irq_pending_hook)(void);

#endif
