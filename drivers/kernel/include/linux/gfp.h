#ifndef _HK_LINUX_GFP_H
#define _HK_LINUX_GFP_H
#include <linux/types.h>
/* Only whether the allocation may sleep matters on the host. */
#define __GFP_WAIT	0x10u
#define __GFP_HIGH	0x20u
#define __GFP_IO	0x40u
#define __GFP_FS	0x80u
#define __GFP_ZERO	0x8000u
#define __GFP_DMA	0x01u
#define GFP_ATOMIC	(__GFP_HIGH)
#define GFP_NOIO	(__GFP_WAIT)
#define GFP_NOFS	(__GFP_WAIT | __GFP_IO)
#define GFP_KERNEL	(__GFP_WAIT | __GFP_IO | __GFP_FS)
#define GFP_USER	GFP_KERNEL
#define GFP_DMA		__GFP_DMA
#endif
