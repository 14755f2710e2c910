#ifndef _HK_LINUX_DELAY_H
#define _HK_LINUX_DELAY_H
/*
 * Delays advance the simulated clock (hostkernel.h: hk_clock_*) at once and
 * are counted; nothing really waits.
 */
void ndelay(unsigned long ns);
void udelay(unsigned long us);
void mdelay(unsigned long ms);
void msleep(unsigned int ms);
unsigned long msleep_interruptible(unsigned int ms);
#endif
