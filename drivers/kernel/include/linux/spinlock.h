#ifndef _HK_LINUX_SPINLOCK_H
#define _HK_LINUX_SPINLOCK_H
/*
 * Spinlocks are host mutexes; the _irq/_irqsave forms also hold off the
 * simulated interrupts (linux/irqflags.h), in that order.
 */
#include <pthread.h>
#include <linux/irqflags.h>
#include <linux/hardirq.h>

typedef struct {
	pthread_mutex_t m;
} spinlock_t;

#define SPIN_LOCK_UNLOCKED { PTHREAD_MUTEX_INITIALIZER }
#define __SPIN_LOCK_UNLOCKED(name) SPIN_LOCK_UNLOCKED
#define DEFINE_SPINLOCK(x) spinlock_t x = SPIN_LOCK_UNLOCKED

static inline void spin_lock_init(spinlock_t *l)
{
	pthread_mutex_init(&l->m, NULL);
}

static inline void spin_lock(spinlock_t *l)
{
	pthread_mutex_lock(&l->m);
}

static inline int spin_trylock(spinlock_t *l)
{
	return pthread_mutex_trylock(&l->m) == 0;
}

static inline void spin_unlock(spinlock_t *l)
{
	pthread_mutex_unlock(&l->m);
}

#define spin_lock_irqsave(l, flags) \
	do { local_irq_save(flags); spin_lock(l); } while (0)
#define spin_unlock_irqrestore(l, flags) \
	do { spin_unlock(l); local_irq_restore(flags); } while (0)
#define spin_lock_irq(l) do { local_irq_disable(); spin_lock(l); } while (0)
#define spin_unlock_irq(l) do { spin_unlock(l); local_irq_enable(); } while (0)
#define spin_lock_bh(l) spin_lock(l)
#define spin_unlock_bh(l) spin_unlock(l)
#endif
