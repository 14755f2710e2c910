/*
 * Clock framework: named clocks with a rate and an enable count; a clock
 * runs while its count is above 0.
 */
#include <linux/clk.h>
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/clk.h>

#define MAX_CLOCKS 32

struct clk {
	char name[24];
	unsigned long rate;
	int enabled;
	int used;
};

static pthread_mutex_t clk_lock = PTHREAD_MUTEX_INITIALIZER;
static struct clk clocks[MAX_CLOCKS];

static struct clk *find(const char *name)
{
	int i;

	for (i = 0; i < MAX_CLOCKS; i++)
		if (clocks[i].used && !strcmp(clocks[i].name, name))
			return &clocks[i];
	return NULL;
}

int hk_clk_register(const char *name, unsigned long rate)
{
	struct clk *c;
	int i, ret = -1;

	pthread_mutex_lock(&clk_lock);
	c = find(name);
	for (i = 0; !c && i < MAX_CLOCKS; i++)
		if (!clocks[i].used)
			c = &clocks[i];
	if (c) {
		if (!c->used) {
			snprintf(c->name, sizeof(c->name), "%s", name);
			c->enabled = 0;
			c->used = 1;
		}
		c->rate = rate;
		ret = 0;
	}
	pthread_mutex_unlock(&clk_lock);
	return ret;
}

void hk_clk_set_rate(const char *name, unsigned long rate)
{
	struct clk *c;

	pthread_mutex_lock(&clk_lock);
	c = find(name);
	if (c)
		c->rate = rate;
	pthread_mutex_unlock(&clk_lock);
}

/* The board code's own enables: counted with the drivers', not in the ledger. */
int hk_clk_board_enable(const char *name, int on)
{
	struct clk *c;
	int n = -1;

	pthread_mutex_lock(&clk_lock);
	c = find(name);
	if (c && (on || c->enabled > 0)) {
		c->enabled += on ? 1 : -1;
		n = c->enabled;
	}
	pthread_mutex_unlock(&clk_lock);
	return n;
}

int hk_clk_enabled(const char *name)
{
	struct clk *c;
	int n;

	pthread_mutex_lock(&clk_lock);
	c = find(name);
	n = c ? c->enabled : -1;
	pthread_mutex_unlock(&clk_lock);
	return n;
}

void hk_clk_reset(void)
{
	pthread_mutex_lock(&clk_lock);
	memset(clocks, 0, sizeof(clocks));
	pthread_mutex_unlock(&clk_lock);
}

struct clk *clk_get(struct device *dev, const char *id)
{
	struct clk *c;

	if (hk_fault_hit("clk_get"))
		return ERR_PTR(-ENOENT);
	pthread_mutex_lock(&clk_lock);
	c = id ? find(id) : NULL;
	pthread_mutex_unlock(&clk_lock);
	if (!c)
		return ERR_PTR(-ENOENT);
	hk_res_acquire("clk");
	return c;
}

void clk_put(struct clk *clk)
{
	if (clk && !IS_ERR(clk))
		hk_res_release("clk");
}

int clk_enable(struct clk *clk)
{
	pthread_mutex_lock(&clk_lock);
	clk->enabled++;
	pthread_mutex_unlock(&clk_lock);
	hk_res_acquire("clk_enable");
	return 0;
}

void clk_disable(struct clk *clk)
{
	pthread_mutex_lock(&clk_lock);
	if (clk->enabled <= 0) {
		pthread_mutex_unlock(&clk_lock);
		/* the AT91 clock code stops here too */
		hk_bug(__FILE__, __LINE__, "clk_disable of a clock nobody enabled");
	}
	clk->enabled--;
	pthread_mutex_unlock(&clk_lock);
	hk_res_release("clk_enable");
}

unsigned long clk_get_rate(struct clk *clk)
{
	return clk->rate;
}
