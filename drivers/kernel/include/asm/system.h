#ifndef _HK_ASM_SYSTEM_H
#define _HK_ASM_SYSTEM_H
#include <linux/irqflags.h>
#define mb() __sync_synchronize()
#define rmb() __sync_synchronize()
#define wmb() __sync_synchronize()
#define smp_mb() mb()
#define smp_rmb() rmb()
#define smp_wmb() wmb()
#endif
