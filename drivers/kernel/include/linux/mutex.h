#ifndef _HK_LINUX_MUTEX_H
#define _HK_LINUX_MUTEX_H
/* Sleeping locks are host mutexes; taking one in interrupt context is a bug. */
#include <pthread.h>
#include <linux/kernel.h>
#include <linux/hardirq.h>

struct mutex {
	pthread_mutex_t m;
	int locked;
};

#define __MUTEX_INITIALIZER(name) { PTHREAD_MUTEX_INITIALIZER, 0 }
#define DEFINE_MUTEX(name) struct mutex name = __MUTEX_INITIALIZER(name)

static inline void mutex_init(struct mutex *l)
{
	pthread_mutex_init(&l->m, NULL);
	l->locked = 0;
}

static inline void mutex_lock(struct mutex *l)
{
	BUG_ON(in_interrupt());
	pthread_mutex_lock(&l->m);
	l->locked = 1;
}

static inline int mutex_lock_interruptible(struct mutex *l)
{
	mutex_lock(l);
	return 0;
}

static inline int mutex_trylock(struct mutex *l)
{
	if (pthread_mutex_trylock(&l->m) != 0)
		return 0;
	l->locked = 1;
	return 1;
}

static inline void mutex_unlock(struct mutex *l)
{
	l->locked = 0;
	pthread_mutex_unlock(&l->m);
}

static inline int mutex_is_locked(struct mutex *l)
{
	return l->locked;
}
#endif
