#ifndef _HK_AT91_SPI_H
#define _HK_AT91_SPI_H
/* Serial Peripheral Interface registers and bits */
#define AT91_SPI_CR		0x00
#define		AT91_SPI_SPIEN		(1 << 0)
#define		AT91_SPI_SPIDIS		(1 << 1)
#define		AT91_SPI_SWRST		(1 << 7)
#define		AT91_SPI_LASTXFER	(1 << 24)
#define AT91_SPI_MR		0x04
#define		AT91_SPI_MSTR		(1 << 0)
#define		AT91_SPI_PS		(1 << 1)
#define		AT91_SPI_PCSDEC		(1 << 2)
#define		AT91_SPI_FDIV		(1 << 3)
#define		AT91_SPI_MODFDIS	(1 << 4)
#define		AT91_SPI_LLB		(1 << 7)
#define		AT91_SPI_PCS		(0xf << 16)
#define		AT91_SPI_DLYBCS		(0xff << 24)
#define AT91_SPI_RDR		0x08
#define AT91_SPI_TDR		0x0c
#define AT91_SPI_SR		0x10
#define		AT91_SPI_RDRF		(1 << 0)
#define		AT91_SPI_TDRE		(1 << 1)
#define		AT91_SPI_MODF		(1 << 2)
#define		AT91_SPI_OVRES		(1 << 3)
#define		AT91_SPI_ENDRX		(1 << 4)
#define		AT91_SPI_ENDTX		(1 << 5)
#define		AT91_SPI_RXBUFF		(1 << 6)
#define		AT91_SPI_TXBUFE		(1 << 7)
#define		AT91_SPI_NSSR		(1 << 8)
#define		AT91_SPI_TXEMPTY	(1 << 9)
#define		AT91_SPI_SPIENS		(1 << 16)
#define AT91_SPI_IER		0x14
#define AT91_SPI_IDR		0x18
#define AT91_SPI_IMR		0x1c
#define AT91_SPI_CSR(n)		(0x30 + ((n) * 4))
#define		AT91_SPI_CPOL		(1 << 0)
#define		AT91_SPI_NCPHA		(1 << 1)
#define		AT91_SPI_CSAAT		(1 << 3)
#define		AT91_SPI_BITS		(0xf << 4)
#define			AT91_SPI_BITS_8		(0 << 4)
#define			AT91_SPI_BITS_16	(8 << 4)
#define		AT91_SPI_SCBR		(0xff << 8)
#define		AT91_SPI_DLYBS		(0xff << 16)
#define		AT91_SPI_DLYBCT		(0xff << 24)
#endif
