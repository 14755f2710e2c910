/*
 * Kernel timers on the simulated clock.  A clock listener runs, after every
 * advance, each pending timer whose expiry has been reached: earliest expiry
 * first, each at most once per advance, one at a time (as the timer soft
 * interrupt does) and never nested inside a timer function that itself
 * advances the clock.  Pending timers show in the resource ledger as
 * "timer", so a module that leaves one armed at unload is caught.
 */
#include <linux/kernel.h>
#include <linux/timer.h>
#include <linux/jiffies.h>
#include <linux/hardirq.h>
#include <pthread.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/timer_sim.h>
#include "hk_internal.h"

static pthread_mutex_t timer_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t timer_idle = PTHREAD_COND_INITIALIZER;
static LIST_HEAD(pending);
static struct timer_list *running;	/* the timer whose function runs now */
static pthread_t running_thread;
static int softirq_busy;
static unsigned long pass;
static long runs;
static int npending;

/* Per timer: the advance in which it last ran, so none runs twice in one. */
#define MAX_TRACKED 64
static struct {
	struct timer_list *t;
	unsigned long pass;
} ran[MAX_TRACKED];
static int nran;

static void run_due(void *ctx, uint64_t now_ns);

static void __attribute__((constructor)) timer_sim_start(void)
{
	hk_clock_listen(run_due, NULL);
}

static void enqueue(struct timer_list *t)
{
	list_add_tail(&t->entry, &pending);
	t->hk_pending = 1;
	npending++;
	hk_res_acquire("timer");
}

static void dequeue(struct timer_list *t)
{
	list_del(&t->entry);
	t->hk_pending = 0;
	npending--;
	hk_res_release("timer");
}

void init_timer(struct timer_list *t)
{
	t->entry.next = NULL;
	t->entry.prev = NULL;
	t->hk_pending = 0;
}

void add_timer(struct timer_list *t)
{
	BUG_ON(!t->function);
	pthread_mutex_lock(&timer_lock);
	if (t->hk_pending) {
		pthread_mutex_unlock(&timer_lock);
		hk_bug(__FILE__, __LINE__, "add_timer of a pending timer");
	}
	enqueue(t);
	pthread_mutex_unlock(&timer_lock);
}

int mod_timer(struct timer_list *t, unsigned long expires)
{
	int was;

	BUG_ON(!t->function);
	pthread_mutex_lock(&timer_lock);
	was = t->hk_pending;
	if (was)
		dequeue(t);
	t->expires = expires;
	enqueue(t);
	pthread_mutex_unlock(&timer_lock);
	return was;
}

int del_timer(struct timer_list *t)
{
	int was;

	pthread_mutex_lock(&timer_lock);
	was = t->hk_pending;
	if (was)
		dequeue(t);
	pthread_mutex_unlock(&timer_lock);
	return was;
}

int del_timer_sync(struct timer_list *t)
{
	int was;

	pthread_mutex_lock(&timer_lock);
	if (running == t && pthread_equal(running_thread, pthread_self())) {
		pthread_mutex_unlock(&timer_lock);
		hk_bug(__FILE__, __LINE__, "del_timer_sync from its own function");
	}
	/* A running function may re-arm the timer: wait for it, then delete. */
	while (running == t)
		pthread_cond_wait(&timer_idle, &timer_lock);
	was = t->hk_pending;
	if (was)
		dequeue(t);
	pthread_mutex_unlock(&timer_lock);
	return was;
}

int timer_pending(const struct timer_list *t)
{
	return t->hk_pending;
}

static int ran_in_pass(struct timer_list *t)
{
	int i;

	for (i = 0; i < nran; i++)
		if (ran[i].t == t)
			return ran[i].pass == pass;
	return 0;
}

static void mark_ran(struct timer_list *t)
{
	int i;

	for (i = 0; i < nran; i++) {
		if (ran[i].t == t || ran[i].pass != pass) {
			ran[i].t = t;
			ran[i].pass = pass;
			return;
		}
	}
	if (nran == MAX_TRACKED)
		hk_bug(__FILE__, __LINE__, "too many timers due at once");
	ran[nran].t = t;
	ran[nran++].pass = pass;
}

static struct timer_list *next_due(void)
{
	struct timer_list *t, *best = NULL;

	list_for_each_entry(t, &pending, entry) {
		if (!time_after_eq(jiffies, t->expires) || ran_in_pass(t))
			continue;
		if (!best || time_before(t->expires, best->expires))
			best = t;
	}
	return best;
}

static void run_due(void *ctx, uint64_t now_ns)
{
	struct timer_list *t;

	(void)ctx;
	(void)now_ns;
	/*
	 * Timer functions run in interrupt context.  A thread that advances
	 * the clock with interrupts disabled (or from a handler) leaves the
	 * due timers for the next advance.
	 */
	if (!hk_cpu_irq_enter())
		return;
	pthread_mutex_lock(&timer_lock);
	if (softirq_busy) {
		/* Already running timers (maybe further up this stack). */
		pthread_mutex_unlock(&timer_lock);
		hk_cpu_irq_exit();
		return;
	}
	softirq_busy = 1;
	pass++;
	while ((t = next_due()) != NULL) {
		void (*fn)(unsigned long) = t->function;
		unsigned long data = t->data;

		dequeue(t);
		mark_ran(t);
		running = t;
		running_thread = pthread_self();
		runs++;
		pthread_mutex_unlock(&timer_lock);
		fn(data);
		pthread_mutex_lock(&timer_lock);
		running = NULL;
		pthread_cond_broadcast(&timer_idle);
	}
	softirq_busy = 0;
	pthread_mutex_unlock(&timer_lock);
	hk_cpu_irq_exit();
}

void hk_timer_tick(unsigned int n)
{
	const uint64_t tick = 1000000000ull / HZ;

	while (n--) {
		uint64_t now = hk_clock_ns();

		hk_clock_advance((now / tick + 1) * tick - now);
	}
}

int hk_timer_pending_count(void)
{
	int n;

	pthread_mutex_lock(&timer_lock);
	n = npending;
	pthread_mutex_unlock(&timer_lock);
	return n;
}

long hk_timer_runs(void)
{
	long n;

	pthread_mutex_lock(&timer_lock);
	n = runs;
	pthread_mutex_unlock(&timer_lock);
	return n;
}
