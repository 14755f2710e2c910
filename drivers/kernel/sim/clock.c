/*
 * Simulated time: one nanosecond clock for the whole machine.  Delays advance
 * it at once (and are recorded), jiffies follow it at HZ, and listeners (the
 * simulated peripherals, kernel timers) run after every advance.
 */
#include <linux/kernel.h>
#include <linux/delay.h>
#include <linux/jiffies.h>
#include <linux/sched.h>
#include <linux/hardirq.h>
#include <linux/string.h>
#include <pthread.h>
#include <hostkernel/hostkernel.h>

#define MAX_LISTENERS 16

volatile unsigned long jiffies = INITIAL_JIFFIES;

static pthread_mutex_t clock_lock = PTHREAD_MUTEX_INITIALIZER;
static uint64_t now_ns;
static long delay_calls;
static uint64_t delay_total, delay_last;

static struct {
	void (*fn)(void *ctx, uint64_t now_ns);
	void *ctx;
} listeners[MAX_LISTENERS];
static int nlisteners;

uint64_t hk_clock_ns(void)
{
	uint64_t t;

	pthread_mutex_lock(&clock_lock);
	t = now_ns;
	pthread_mutex_unlock(&clock_lock);
	return t;
}

void hk_clock_advance(uint64_t ns)
{
	typeof(listeners) copy;
	uint64_t t;
	int i, n;

	pthread_mutex_lock(&clock_lock);
	now_ns += ns;
	t = now_ns;
	jiffies = INITIAL_JIFFIES + (unsigned long)(t / (1000000000ull / HZ));
	n = nlisteners;
	memcpy(copy, listeners, sizeof(copy));
	pthread_mutex_unlock(&clock_lock);
	for (i = 0; i < n; i++)
		if (copy[i].fn)
			copy[i].fn(copy[i].ctx, t);
}

int hk_clock_listen(void (*fn)(void *ctx, uint64_t now_ns), void *ctx)
{
	int i, err = -1;

	pthread_mutex_lock(&clock_lock);
	for (i = 0; i < MAX_LISTENERS; i++) {
		if (!listeners[i].fn) {
			listeners[i].fn = fn;
			listeners[i].ctx = ctx;
			if (i >= nlisteners)
				nlisteners = i + 1;
			err = 0;
			break;
		}
	}
	pthread_mutex_unlock(&clock_lock);
	return err;
}

void hk_clock_unlisten(void (*fn)(void *ctx, uint64_t now_ns), void *ctx)
{
	int i;

	pthread_mutex_lock(&clock_lock);
	for (i = 0; i < nlisteners; i++)
		if (listeners[i].fn == fn && listeners[i].ctx == ctx)
			listeners[i].fn = NULL;
	pthread_mutex_unlock(&clock_lock);
}

static void delay_ns(uint64_t ns)
{
	pthread_mutex_lock(&clock_lock);
	delay_calls++;
	delay_total += ns;
	delay_last = ns;
	pthread_mutex_unlock(&clock_lock);
	hk_clock_advance(ns);
}

void ndelay(unsigned long ns)
{
	delay_ns(ns);
}

void udelay(unsigned long us)
{
	delay_ns((uint64_t)us * 1000);
}

void mdelay(unsigned long ms)
{
	delay_ns((uint64_t)ms * 1000000);
}

void msleep(unsigned int ms)
{
	BUG_ON(in_interrupt());
	delay_ns((uint64_t)ms * 1000000);
}

unsigned long msleep_interruptible(unsigned int ms)
{
	msleep(ms);
	return 0;
}

long hk_delay_calls(void)
{
	return delay_calls;
}

uint64_t hk_delay_total_ns(void)
{
	return delay_total;
}

uint64_t hk_delay_last_ns(void)
{
	return delay_last;
}

void hk_delay_reset(void)
{
	pthread_mutex_lock(&clock_lock);
	delay_calls = 0;
	delay_total = 0;
	delay_last = 0;
	pthread_mutex_unlock(&clock_lock);
}
