#ifndef _HK_AT91_TC_H
#define _HK_AT91_TC_H
/* Timer/counter channel registers (each channel a 0x40 window) and bits */
#define AT91_TC_BCR		0xc0
#define		AT91_TC_SYNC		(1 << 0)
#define AT91_TC_BMR		0xc4
#define AT91_TC_CCR		0x00
#define		AT91_TC_CLKEN		(1 << 0)
#define		AT91_TC_CLKDIS		(1 << 1)
#define		AT91_TC_SWTRG		(1 << 2)
#define AT91_TC_CMR		0x04
#define		AT91_TC_TIMER_CLOCK1	(0 << 0)
#define		AT91_TC_TIMER_CLOCK2	(1 << 0)
#define		AT91_TC_TIMER_CLOCK3	(2 << 0)
#define		AT91_TC_TIMER_CLOCK4	(3 << 0)
#define		AT91_TC_TIMER_CLOCK5	(4 << 0)
#define		AT91_TC_CLKI		(1 << 3)
#define		AT91_TC_BURST		(3 << 4)
#define		AT91_TC_EEVTEDG		(3 << 8)
#define		AT91_TC_EEVT		(3 << 10)
#define		AT91_TC_ENETRG		(1 << 12)
#define		AT91_TC_WAVESEL		(3 << 13)
#define			AT91_TC_WAVESEL_UP	(0 << 13)
#define			AT91_TC_WAVESEL_UP_AUTO	(2 << 13)
#define		AT91_TC_WAVE		(1 << 15)
#define		AT91_TC_ACPA		(3 << 16)
#define		AT91_TC_ACPC		(3 << 18)
#define		AT91_TC_AEEVT		(3 << 20)
#define		AT91_TC_ASWTRG		(3 << 22)
#define		AT91_TC_BCPB		(3 << 24)
#define		AT91_TC_BCPC		(3 << 26)
#define		AT91_TC_BEEVT		(3 << 28)
#define		AT91_TC_BSWTRG		(3 << 30)
#define AT91_TC_CV		0x10
#define AT91_TC_RA		0x14
#define AT91_TC_RB		0x18
#define AT91_TC_RC		0x1c
#define AT91_TC_SR		0x20
#define		AT91_TC_COVFS		(1 << 0)
#define		AT91_TC_LOVRS		(1 << 1)
#define		AT91_TC_CPAS		(1 << 2)
#define		AT91_TC_CPBS		(1 << 3)
#define		AT91_TC_CPCS		(1 << 4)
#define		AT91_TC_LDRAS		(1 << 5)
#define		AT91_TC_LDRBS		(1 << 6)
#define		AT91_TC_ETRGS		(1 << 7)
#define		AT91_TC_CLKSTA		(1 << 16)
#define		AT91_TC_MTIOA		(1 << 17)
#define		AT91_TC_MTIOB		(1 << 18)
#define AT91_TC_IER		0x24
#define AT91_TC_IDR		0x28
#define AT91_TC_IMR		0x2c
#endif
