#ifndef __KERNEL__
#include_next <asm/param.h>
#else
#ifndef _HK_ASM_PARAM_H
#define _HK_ASM_PARAM_H
/* The board's kernel runs at 128 ticks per second. */
#define HZ 128
#endif
#endif
