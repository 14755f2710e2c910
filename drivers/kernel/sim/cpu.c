/*
 * The simulated processor: its interrupt-disable state (one for the machine,
 * held by at most one host thread), interrupt context, and the tasks that
 * host threads become when they enter kernel code, with schedule(),
 * wake-ups and signals.
 */
#include <linux/kernel.h>
#include <linux/sched.h>
#include <linux/irqflags.h>
#include <linux/hardirq.h>
#include <linux/string.h>
#include <pthread.h>
#include <stdio.h>
#include <time.h>
#include <sched.h>
#include <errno.h>
#include <hostkernel/hostkernel.h>
#include "hk_internal.h"

void (*hk_irq_pending_hook)(void);

static pthread_mutex_t irq_mutex = PTHREAD_MUTEX_INITIALIZER;
static __thread int irq_held;
static __thread int irq_depth;

void hk_local_irq_disable(void)
{
	if (!irq_held) {
		pthread_mutex_lock(&irq_mutex);
		irq_held = 1;
	}
}

void hk_local_irq_enable(void)
{
	if (irq_held && !irq_depth) {
		irq_held = 0;
		pthread_mutex_unlock(&irq_mutex);
		if (hk_irq_pending_hook)
			hk_irq_pending_hook();
	}
}

unsigned long hk_local_irq_save(void)
{
	if (irq_held)
		return 1;
	hk_local_irq_disable();
	return 0;
}

void hk_local_irq_restore(unsigned long flags)
{
	if (!flags)
		hk_local_irq_enable();
}

int hk_irqs_disabled(void)
{
	return irq_held;
}

int hk_in_irq(void)
{
	return irq_depth > 0;
}

int hk_cpu_irq_enter(void)
{
	if (irq_held)
		return 0;
	pthread_mutex_lock(&irq_mutex);
	irq_held = 1;
	irq_depth++;
	return 1;
}

void hk_cpu_irq_exit(void)
{
	irq_depth--;
	irq_held = 0;
	pthread_mutex_unlock(&irq_mutex);
}

/* Tasks */

struct hk_task_sync {
	pthread_cond_t cond;
};

static pthread_mutex_t sched_lock = PTHREAD_MUTEX_INITIALIZER;
static __thread struct task_struct *self;
static int next_pid = 100;
static hk_idle_fn idle_fn;
static void *idle_ctx;

static pthread_key_t task_key;
static pthread_once_t task_key_once = PTHREAD_ONCE_INIT;

static void task_free(void *p)
{
	struct task_struct *t = p;

	pthread_cond_destroy(&t->sync->cond);
	free(t->sync);
	free(t);
}

static void task_key_make(void)
{
	pthread_key_create(&task_key, task_free);
}

struct task_struct *hk_current(void)
{
	struct task_struct *t = self;

	if (t)
		return t;
	t = calloc(1, sizeof(*t));
	if (!t || !(t->sync = calloc(1, sizeof(*t->sync))))
		hk_bug(__FILE__, __LINE__, "out of host memory for a task");
	pthread_cond_init(&t->sync->cond, NULL);
	pthread_mutex_lock(&sched_lock);
	t->pid = next_pid++;
	pthread_mutex_unlock(&sched_lock);
	snprintf(t->comm, sizeof(t->comm), "task%d", t->pid);
	t->state = TASK_RUNNING;
	pthread_once(&task_key_once, task_key_make);
	pthread_setspecific(task_key, t);
	self = t;
	return t;
}

struct task_struct *hk_task_self(void)
{
	return hk_current();
}

void hk_set_task_state(struct task_struct *t, long state)
{
	pthread_mutex_lock(&sched_lock);
	t->state = state;
	pthread_mutex_unlock(&sched_lock);
}

int wake_up_process(struct task_struct *t)
{
	int woken = 0;

	pthread_mutex_lock(&sched_lock);
	if (t->state != TASK_RUNNING) {
		t->state = TASK_RUNNING;
		pthread_cond_signal(&t->sync->cond);
		woken = 1;
	}
	pthread_mutex_unlock(&sched_lock);
	return woken;
}

int signal_pending(struct task_struct *t)
{
	int p;

	pthread_mutex_lock(&sched_lock);
	p = t->sigpending;
	pthread_mutex_unlock(&sched_lock);
	return p;
}

void hk_task_signal(struct task_struct *t)
{
	pthread_mutex_lock(&sched_lock);
	t->sigpending = 1;
	pthread_cond_signal(&t->sync->cond);
	pthread_mutex_unlock(&sched_lock);
}

void hk_task_clear_signal(struct task_struct *t)
{
	pthread_mutex_lock(&sched_lock);
	t->sigpending = 0;
	pthread_mutex_unlock(&sched_lock);
}

int hk_task_sleeping(struct task_struct *t)
{
	int s;

	pthread_mutex_lock(&sched_lock);
	s = t->sleeping;
	pthread_mutex_unlock(&sched_lock);
	return s;
}

void hk_set_idle_hook(hk_idle_fn fn, void *ctx)
{
	pthread_mutex_lock(&sched_lock);
	idle_fn = fn;
	idle_ctx = ctx;
	pthread_mutex_unlock(&sched_lock);
}

/* Caller holds sched_lock. */
static int may_run(struct task_struct *t)
{
	if (t->state == TASK_RUNNING)
		return 1;
	if (t->state == TASK_INTERRUPTIBLE && t->sigpending) {
		t->state = TASK_RUNNING;
		return 1;
	}
	return 0;
}

static int hang_seconds(void)
{
	const char *e = getenv("HOSTKERNEL_HANG_SECONDS");
	int s = e ? atoi(e) : 0;

	return s > 0 ? s : 30;
}

/*
 * Sleep until runnable.  limit_ns > 0 bounds the real wait (used by
 * schedule_timeout); returns 1 when woken, 0 when the limit passed.
 */
static int sleep_until_runnable(struct task_struct *t, long limit_ms)
{
	struct timespec until;
	int woken;

	if (in_interrupt())
		hk_bug(__FILE__, __LINE__, "scheduling while in interrupt");
	if (irq_held)
		hk_bug(__FILE__, __LINE__, "scheduling with interrupts disabled");
	for (;;) {
		hk_idle_fn fn;
		void *ctx;

		pthread_mutex_lock(&sched_lock);
		if (may_run(t)) {
			pthread_mutex_unlock(&sched_lock);
			return 1;
		}
		fn = idle_fn;
		ctx = idle_ctx;
		pthread_mutex_unlock(&sched_lock);
		if (!fn || !fn(ctx))
			break;
	}
	clock_gettime(CLOCK_REALTIME, &until);
	if (limit_ms > 0) {
		until.tv_sec += limit_ms / 1000;
		until.tv_nsec += (limit_ms % 1000) * 1000000L;
	} else {
		until.tv_sec += hang_seconds();
	}
	if (until.tv_nsec >= 1000000000L) {
		until.tv_sec++;
		until.tv_nsec -= 1000000000L;
	}
	pthread_mutex_lock(&sched_lock);
	t->sleeping = 1;
	while (!(woken = may_run(t))) {
		if (pthread_cond_timedwait(&t->sync->cond, &sched_lock, &until) == ETIMEDOUT) {
			woken = may_run(t);
			break;
		}
	}
	t->sleeping = 0;
	pthread_mutex_unlock(&sched_lock);
	if (!woken && limit_ms <= 0) {
		fprintf(stderr, "hostkernel: task %d asleep for %d s with nobody to wake it\n",
			t->pid, hang_seconds());
		abort();
	}
	return woken;
}

void schedule(void)
{
	sleep_until_runnable(current, 0);
}

long schedule_timeout(long timeout)
{
	struct task_struct *t = current;
	unsigned long expire;
	long left;

	if (timeout == MAX_SCHEDULE_TIMEOUT) {
		schedule();
		return timeout;
	}
	if (timeout < 0)
		timeout = 0;
	expire = jiffies + (unsigned long)timeout;
	/* Another thread may wake us within a short real wait; otherwise the
	 * machine idles until the timeout, so simulated time jumps there. */
	if (sleep_until_runnable(t, 20)) {
		left = (long)(expire - jiffies);
		return left > 0 ? left : 0;
	}
	left = (long)(expire - jiffies);
	if (left > 0)
		hk_clock_advance((uint64_t)left * (1000000000ull / HZ));
	hk_set_task_state(t, TASK_RUNNING);
	return 0;
}

long schedule_timeout_interruptible(long timeout)
{
	set_current_state(TASK_INTERRUPTIBLE);
	return schedule_timeout(timeout);
}

long schedule_timeout_uninterruptible(long timeout)
{
	set_current_state(TASK_UNINTERRUPTIBLE);
	return schedule_timeout(timeout);
}

void yield(void)
{
	sched_yield();
}
