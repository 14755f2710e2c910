#ifndef __KERNEL__
#include_next <linux/sched.h>
#else
#ifndef _HK_LINUX_SCHED_H
#define _HK_LINUX_SCHED_H
/*
 * Tasks: every host thread that enters kernel code is a task.  schedule()
 * blocks the calling thread until a wake-up makes it runnable again or a
 * signal is pending; with an idle hook installed (hostkernel.h) the hook runs
 * instead of blocking, as long as it makes progress.
 */
#include <linux/types.h>
#include <linux/jiffies.h>

#define TASK_RUNNING		0
#define TASK_INTERRUPTIBLE	1
#define TASK_UNINTERRUPTIBLE	2

#define MAX_SCHEDULE_TIMEOUT	((long)(~0UL >> 1))

struct task_struct {
	volatile long state;
	int pid;
	char comm[16];
	int sigpending;
	int sleeping;
	struct hk_task_sync *sync;
};

struct task_struct *hk_current(void);
#define current hk_current()

void hk_set_task_state(struct task_struct *t, long state);
#define set_current_state(s) hk_set_task_state(current, (s))
#define __set_current_state(s) hk_set_task_state(current, (s))
#define set_task_state(t, s) hk_set_task_state((t), (s))

void schedule(void);
long schedule_timeout(long timeout);
long schedule_timeout_interruptible(long timeout);
long schedule_timeout_uninterruptible(long timeout);
int wake_up_process(struct task_struct *t);
int signal_pending(struct task_struct *t);
void yield(void);
#define cond_resched() do { } while (0)
#endif
#endif
