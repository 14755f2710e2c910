#ifndef _HK_LINUX_JIFFIES_H
#define _HK_LINUX_JIFFIES_H
/* jiffies follow the simulated clock at HZ = 100, as on the board. */
#include <linux/types.h>
#include <asm/param.h>

extern volatile unsigned long jiffies;
#define INITIAL_JIFFIES ((unsigned long)(unsigned int)(-300 * HZ))
#define MAX_JIFFY_OFFSET ((~0UL >> 1) - 1)

#define time_after(a, b) ((long)(b) - (long)(a) < 0)
#define time_before(a, b) time_after(b, a)
#define time_after_eq(a, b) ((long)(a) - (long)(b) >= 0)
#define time_before_eq(a, b) time_after_eq(b, a)

static inline unsigned int jiffies_to_msecs(unsigned long j)
{
	return (unsigned int)(j * (1000 / HZ));
}

static inline unsigned long msecs_to_jiffies(unsigned int m)
{
	return (m + (1000 / HZ) - 1) / (1000 / HZ);
}

static inline unsigned long usecs_to_jiffies(unsigned int u)
{
	return (u + (1000000 / HZ) - 1) / (1000000 / HZ);
}
#endif
