#ifndef __KERNEL__
#include_next <asm/param.h>
#else
#ifndef _HK_ASM_PARAM_H
#define _HK_ASM_PARAM_H
#define HZ 100
#endif
#endif
