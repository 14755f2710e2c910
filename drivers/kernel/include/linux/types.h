/*
 * Kernel scalar types on the host.  Outside kernel code (C library headers,
 * test programs) this is the system header unchanged.
 */
#include_next <linux/types.h>
#if defined(__KERNEL__) && !defined(_HK_LINUX_TYPES_H)
#define _HK_LINUX_TYPES_H
#include <stddef.h>
#include <stdint.h>
#include <stdbool.h>
#include <sys/types.h>
#include <linux/compiler.h>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;
/* Bus addresses are 32 bits on the board; the host simulation keeps them so. */
typedef u32 dma_addr_t;
typedef u32 phys_addr_t;
typedef u32 resource_size_t;
typedef unsigned int gfp_t;
typedef unsigned short umode_t;
#endif
