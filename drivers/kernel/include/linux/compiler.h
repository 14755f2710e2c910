#ifndef _HK_LINUX_COMPILER_H
#define _HK_LINUX_COMPILER_H
/* Annotations of the kernel sources; on the host they carry no meaning. */
#define __user
#define __iomem
#define __kernel
#define __force
#define __must_check __attribute__((warn_unused_result))
#define __maybe_unused __attribute__((unused))
#define __used __attribute__((used))
#ifndef __always_inline
#define __always_inline inline __attribute__((always_inline))
#endif
#define noinline __attribute__((noinline))
#define likely(x) __builtin_expect(!!(x), 1)
#define unlikely(x) __builtin_expect(!!(x), 0)
#define barrier() __asm__ __volatile__("" : : : "memory")
#define ACCESS_ONCE(x) (*(volatile __typeof__(x) *)&(x))
#endif
