#ifndef _HK_ASM_IO_H
#define _HK_ASM_IO_H
/*
 * Register windows.  ioremap hands out a window onto the simulated physical
 * bus (hostkernel/mmio.h); every access goes to the device model behind it.
 * Touching an address that no live mapping covers stops the program.
 * Mapping failures injectable (kind "ioremap"); live windows in the ledger
 * under "ioremap".
 */
#include <linux/types.h>

void __iomem *ioremap(unsigned long phys, size_t size);
void iounmap(volatile void __iomem *addr);
#define ioremap_nocache(p, s) ioremap(p, s)

u32 hk_io_read(const volatile void __iomem *addr, int width);
void hk_io_write(u32 value, volatile void __iomem *addr, int width);

#define readb(a) ((u8)hk_io_read(a, 1))
#define readw(a) ((u16)hk_io_read(a, 2))
#define readl(a) ((u32)hk_io_read(a, 4))
#define writeb(v, a) hk_io_write((u8)(v), a, 1)
#define writew(v, a) hk_io_write((u16)(v), a, 2)
#define writel(v, a) hk_io_write((u32)(v), a, 4)
#define __raw_readb readb
#define __raw_readw readw
#define __raw_readl readl
#define __raw_writeb writeb
#define __raw_writew writew
#define __raw_writel writel
#define ioread8 readb
#define ioread16 readw
#define ioread32 readl
#define iowrite8 writeb
#define iowrite16 writew
#define iowrite32 writel
#endif
