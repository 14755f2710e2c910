#ifndef _HK_ASM_IRQ_H
#define _HK_ASM_IRQ_H
/* AT91: 32 AIC lines, then one per PIO line (4 x 32 + port E) */
#define NR_AIC_IRQS	32
#define NR_IRQS		(NR_AIC_IRQS + 5 * 32)
#endif
