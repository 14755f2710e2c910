#ifndef _HK_LINUX_JIFFIES_H
#define _HK_LINUX_JIFFIES_H
/* jiffies follow the simulated clock at HZ = 128, as on the board. */
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
	return (unsigned int)((unsigned long long)j * 1000 / HZ);
}

static inline unsigned long msecs_to_jiffies(unsigned int m)
{
	return (unsigned long)(((unsigned long long)m * HZ + 999) / 1000);
}

static inline unsigned long usecs_to_jiffies(unsigned int u)
{
	return (unsigned long)(((unsigned long long)u * HZ + 999999) / 1000000);
}
#endif
