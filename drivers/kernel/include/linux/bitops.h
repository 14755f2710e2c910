#ifndef _HK_LINUX_BITOPS_H
#define _HK_LINUX_BITOPS_H
/* Bit arrays of unsigned long, as the kernel keeps capability masks. */
#include <linux/types.h>

#define BITS_PER_LONG		((int)(8 * sizeof(long)))
#define BIT(nr)			(1UL << (nr))
#define BIT_MASK(nr)		(1UL << ((nr) % BITS_PER_LONG))
#define BIT_WORD(nr)		((nr) / BITS_PER_LONG)
#define BITS_TO_LONGS(nr)	(((nr) + BITS_PER_LONG - 1) / BITS_PER_LONG)

static inline void __set_bit(int nr, volatile unsigned long *addr)
{
	addr[BIT_WORD(nr)] |= BIT_MASK(nr);
}

static inline void __clear_bit(int nr, volatile unsigned long *addr)
{
	addr[BIT_WORD(nr)] &= ~BIT_MASK(nr);
}

static inline void set_bit(int nr, volatile unsigned long *addr)
{
	__atomic_fetch_or(&addr[BIT_WORD(nr)], BIT_MASK(nr), __ATOMIC_SEQ_CST);
}

static inline void clear_bit(int nr, volatile unsigned long *addr)
{
	__atomic_fetch_and(&addr[BIT_WORD(nr)], ~BIT_MASK(nr), __ATOMIC_SEQ_CST);
}

static inline int test_bit(int nr, const volatile unsigned long *addr)
{
	return (addr[BIT_WORD(nr)] >> (nr % BITS_PER_LONG)) & 1;
}

static inline int test_and_set_bit(int nr, volatile unsigned long *addr)
{
	unsigned long old = __atomic_fetch_or(&addr[BIT_WORD(nr)], BIT_MASK(nr),
					      __ATOMIC_SEQ_CST);
	return (old & BIT_MASK(nr)) != 0;
}

static inline int test_and_clear_bit(int nr, volatile unsigned long *addr)
{
	unsigned long old = __atomic_fetch_and(&addr[BIT_WORD(nr)], ~BIT_MASK(nr),
					       __ATOMIC_SEQ_CST);
	return (old & BIT_MASK(nr)) != 0;
}
#endif
