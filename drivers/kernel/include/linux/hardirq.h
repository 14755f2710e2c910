#ifndef _HK_LINUX_HARDIRQ_H
#define _HK_LINUX_HARDIRQ_H
/* True while the calling thread runs a simulated interrupt handler. */
int hk_in_irq(void);
#define in_irq() hk_in_irq()
#define in_interrupt() hk_in_irq()
#define in_atomic() hk_in_irq()
#endif
