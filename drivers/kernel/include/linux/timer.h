#ifndef _HK_LINUX_TIMER_H
#define _HK_LINUX_TIMER_H
/*
 * Kernel timers on the simulated clock.  After every clock advance each
 * pending timer whose expiry has been reached runs once, earliest expiry
 * first, in soft-interrupt context; a timer re-armed by its own function
 * for a later jiffy waits for a later advance.  hostkernel/timer_sim.h
 * steps the clock tick by tick.
 */
#include <linux/types.h>
#include <linux/list.h>
#include <linux/jiffies.h>

struct timer_list {
	struct list_head entry;
	unsigned long expires;
	void (*function)(unsigned long data);
	unsigned long data;
	int hk_pending;		/* on the pending list */
};

#define TIMER_INITIALIZER(_function, _expires, _data) {		\
		.entry = { NULL, NULL },				\
		.expires = (_expires),					\
		.function = (_function),				\
		.data = (_data),					\
	}

#define DEFINE_TIMER(_name, _function, _expires, _data)		\
	struct timer_list _name = TIMER_INITIALIZER(_function, _expires, _data)

void init_timer(struct timer_list *timer);
void add_timer(struct timer_list *timer);
int mod_timer(struct timer_list *timer, unsigned long expires);
int del_timer(struct timer_list *timer);
int del_timer_sync(struct timer_list *timer);
int timer_pending(const struct timer_list *timer);

static inline void setup_timer(struct timer_list *timer,
			       void (*function)(unsigned long),
			       unsigned long data)
{
	timer->function = function;
	timer->data = data;
	init_timer(timer);
}
#endif
