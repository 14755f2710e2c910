#ifndef _HK_ASM_ARCH_HARDWARE_H
#define _HK_ASM_ARCH_HARDWARE_H
#include <asm/arch/at91sam9263.h>
#endif
