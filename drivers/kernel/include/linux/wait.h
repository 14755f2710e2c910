#ifndef __KERNEL__
#include_next <linux/wait.h>
#else
#ifndef _HK_LINUX_WAIT_H
#define _HK_LINUX_WAIT_H
/*
 * Wait queues as in the kernel: entries with a wake function on a list under
 * the queue's lock; sleeping is the task state plus schedule() (linux/sched.h).
 */
#include <linux/list.h>
#include <linux/spinlock.h>
#include <linux/sched.h>
#include <linux/errno.h>

typedef struct __wait_queue wait_queue_t;
typedef int (*wait_queue_func_t)(wait_queue_t *wait, unsigned mode, int sync, void *key);

#define WQ_FLAG_EXCLUSIVE 0x01

struct __wait_queue {
	unsigned int flags;
	void *private;
	wait_queue_func_t func;
	struct list_head task_list;
};

typedef struct __wait_queue_head {
	spinlock_t lock;
	struct list_head task_list;
} wait_queue_head_t;

int default_wake_function(wait_queue_t *wait, unsigned mode, int sync, void *key);
int autoremove_wake_function(wait_queue_t *wait, unsigned mode, int sync, void *key);

#define __WAIT_QUEUE_HEAD_INITIALIZER(name) \
	{ SPIN_LOCK_UNLOCKED, { &(name).task_list, &(name).task_list } }
#define DECLARE_WAIT_QUEUE_HEAD(name) \
	wait_queue_head_t name = __WAIT_QUEUE_HEAD_INITIALIZER(name)
#define __WAITQUEUE_INITIALIZER(name, tsk) \
	{ 0, tsk, default_wake_function, { NULL, NULL } }
#define DECLARE_WAITQUEUE(name, tsk) \
	wait_queue_t name = __WAITQUEUE_INITIALIZER(name, tsk)
#define DEFINE_WAIT(name) \
	wait_queue_t name = { 0, current, autoremove_wake_function, \
			      { &(name).task_list, &(name).task_list } }

void init_waitqueue_head(wait_queue_head_t *q);

static inline void init_waitqueue_entry(wait_queue_t *q, struct task_struct *p)
{
	q->flags = 0;
	q->private = p;
	q->func = default_wake_function;
}

static inline int waitqueue_active(wait_queue_head_t *q)
{
	return !list_empty(&q->task_list);
}

void add_wait_queue(wait_queue_head_t *q, wait_queue_t *wait);
void add_wait_queue_exclusive(wait_queue_head_t *q, wait_queue_t *wait);
void remove_wait_queue(wait_queue_head_t *q, wait_queue_t *wait);
void prepare_to_wait(wait_queue_head_t *q, wait_queue_t *wait, int state);
void prepare_to_wait_exclusive(wait_queue_head_t *q, wait_queue_t *wait, int state);
void finish_wait(wait_queue_head_t *q, wait_queue_t *wait);
void __wake_up(wait_queue_head_t *q, unsigned int mode, int nr, void *key);

#define wake_up(x) __wake_up(x, TASK_UNINTERRUPTIBLE | TASK_INTERRUPTIBLE, 1, NULL)
#define wake_up_nr(x, nr) __wake_up(x, TASK_UNINTERRUPTIBLE | TASK_INTERRUPTIBLE, nr, NULL)
#define wake_up_all(x) __wake_up(x, TASK_UNINTERRUPTIBLE | TASK_INTERRUPTIBLE, 0, NULL)
#define wake_up_interruptible(x) __wake_up(x, TASK_INTERRUPTIBLE, 1, NULL)
#define wake_up_interruptible_nr(x, nr) __wake_up(x, TASK_INTERRUPTIBLE, nr, NULL)
#define wake_up_interruptible_all(x) __wake_up(x, TASK_INTERRUPTIBLE, 0, NULL)

#define wait_event(wq, condition)					\
do {									\
	DEFINE_WAIT(__wait);						\
	for (;;) {							\
		prepare_to_wait(&(wq), &__wait, TASK_UNINTERRUPTIBLE);	\
		if (condition)						\
			break;						\
		schedule();						\
	}								\
	finish_wait(&(wq), &__wait);					\
} while (0)

#define wait_event_interruptible(wq, condition)				\
({									\
	int __ret = 0;							\
	DEFINE_WAIT(__wait);						\
	for (;;) {							\
		prepare_to_wait(&(wq), &__wait, TASK_INTERRUPTIBLE);	\
		if (condition)						\
			break;						\
		if (signal_pending(current)) {				\
			__ret = -ERESTARTSYS;				\
			break;						\
		}							\
		schedule();						\
	}								\
	finish_wait(&(wq), &__wait);					\
	__ret;								\
})

#define wait_event_timeout(wq, condition, timeout)			\
({									\
	long __ret = (timeout);						\
	DEFINE_WAIT(__wait);						\
	for (;;) {							\
		prepare_to_wait(&(wq), &__wait, TASK_UNINTERRUPTIBLE);	\
		if (condition)						\
			break;						\
		__ret = schedule_timeout(__ret);			\
		if (!__ret)						\
			break;						\
	}								\
	finish_wait(&(wq), &__wait);					\
	__ret;								\
})
#endif
#endif
