/*
 * The simulated physical bus: device windows registered by the models,
 * ioremap'd mappings onto it, and the accesses through them.  An access that
 * no live mapping covers stops the program: on the board it would be a
 * fault or a write into whatever happens to be mapped there.
 */
#include <asm/io.h>
#include <linux/kernel.h>
#include <linux/string.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/mmio.h>

#define MAX_WINDOWS 32
#define MAX_MAPPINGS 32
#define LOG_MAX 65536

static pthread_mutex_t io_lock = PTHREAD_MUTEX_INITIALIZER;

static struct window {
	uint32_t phys, size;
	const struct hk_mmio_ops *ops;
	void *ctx;
} windows[MAX_WINDOWS];

static struct mapping {
	uint32_t phys, size;
	char *cookie;		/* host address range handed out, never dereferenced */
	uint32_t *plain;	/* registers of a range no model covers */
} mappings[MAX_MAPPINGS];

static struct hk_mmio_access log_entries[LOG_MAX];
static size_t log_count;

int hk_mmio_register(uint32_t phys, uint32_t size, const struct hk_mmio_ops *ops, void *ctx)
{
	int i, ret = -1;

	pthread_mutex_lock(&io_lock);
	for (i = 0; i < MAX_WINDOWS; i++) {
		if (windows[i].size && windows[i].phys == phys) {
			windows[i].size = size;
			windows[i].ops = ops;
			windows[i].ctx = ctx;
			ret = 0;
			break;
		}
	}
	for (i = 0; ret && i < MAX_WINDOWS; i++) {
		if (!windows[i].size) {
			windows[i].phys = phys;
			windows[i].size = size;
			windows[i].ops = ops;
			windows[i].ctx = ctx;
			ret = 0;
		}
	}
	pthread_mutex_unlock(&io_lock);
	return ret;
}

void hk_mmio_unregister(uint32_t phys)
{
	int i;

	pthread_mutex_lock(&io_lock);
	for (i = 0; i < MAX_WINDOWS; i++)
		if (windows[i].size && windows[i].phys == phys)
			windows[i].size = 0;
	pthread_mutex_unlock(&io_lock);
}

static struct window *window_of(uint32_t phys)
{
	int i;

	for (i = 0; i < MAX_WINDOWS; i++)
		if (windows[i].size && phys >= windows[i].phys &&
		    phys - windows[i].phys < windows[i].size)
			return &windows[i];
	return NULL;
}

void __iomem *ioremap(unsigned long phys, size_t size)
{
	int i;

	if (!size || hk_fault_hit("ioremap"))
		return NULL;
	pthread_mutex_lock(&io_lock);
	for (i = 0; i < MAX_MAPPINGS; i++) {
		if (!mappings[i].cookie) {
			mappings[i].cookie = malloc(size);
			mappings[i].plain = calloc((size + 3) / 4, 4);
			if (!mappings[i].cookie || !mappings[i].plain) {
				free(mappings[i].cookie);
				free(mappings[i].plain);
				mappings[i].cookie = NULL;
				break;
			}
			mappings[i].phys = (uint32_t)phys;
			mappings[i].size = (uint32_t)size;
			pthread_mutex_unlock(&io_lock);
			hk_res_acquire("ioremap");
			return mappings[i].cookie;
		}
	}
	pthread_mutex_unlock(&io_lock);
	return NULL;
}

void iounmap(volatile void __iomem *addr)
{
	int i;

	pthread_mutex_lock(&io_lock);
	for (i = 0; i < MAX_MAPPINGS; i++) {
		if (mappings[i].cookie && mappings[i].cookie == (const volatile char *)addr) {
			free(mappings[i].cookie);
			free(mappings[i].plain);
			mappings[i].cookie = NULL;
			pthread_mutex_unlock(&io_lock);
			hk_res_release("ioremap");
			return;
		}
	}
	pthread_mutex_unlock(&io_lock);
	fprintf(stderr, "hostkernel: iounmap of %p, which is not a mapping\n", (void *)addr);
	abort();
}

/* Resolve an access; io_lock held.  Returns the mapping, sets *phys. */
static struct mapping *resolve(const volatile void *addr, int width, uint32_t *phys)
{
	const volatile char *a = addr;
	int i;

	for (i = 0; i < MAX_MAPPINGS; i++) {
		struct mapping *m = &mappings[i];

		if (m->cookie && a >= m->cookie && a + width <= m->cookie + m->size) {
			*phys = m->phys + (uint32_t)(a - m->cookie);
			return m;
		}
	}
	fprintf(stderr, "hostkernel: register access at %p through no live mapping\n",
		(const void *)addr);
	abort();
}

u32 hk_io_read(const volatile void __iomem *addr, int width)
{
	struct mapping *m;
	struct window *w;
	uint32_t phys, v;

	pthread_mutex_lock(&io_lock);
	m = resolve(addr, width, &phys);
	w = window_of(phys);
	if (w) {
		const struct hk_mmio_ops *ops = w->ops;
		void *ctx = w->ctx;
		uint32_t off = phys - w->phys;

		pthread_mutex_unlock(&io_lock);
		return ops->read ? ops->read(ctx, off, width) : 0;
	}
	v = m->plain[(phys - m->phys) / 4];
	pthread_mutex_unlock(&io_lock);
	return v;
}

void hk_io_write(u32 value, volatile void __iomem *addr, int width)
{
	struct mapping *m;
	struct window *w;
	uint32_t phys;

	pthread_mutex_lock(&io_lock);
	m = resolve(addr, width, &phys);
	if (log_count < LOG_MAX) {
		log_entries[log_count].phys = phys;
		log_entries[log_count].value = value;
		log_count++;
	}
	w = window_of(phys);
	if (w) {
		const struct hk_mmio_ops *ops = w->ops;
		void *ctx = w->ctx;
		uint32_t off = phys - w->phys;

		pthread_mutex_unlock(&io_lock);
		if (ops->write)
			ops->write(ctx, off, value, width);
		return;
	}
	m->plain[(phys - m->phys) / 4] = value;
	pthread_mutex_unlock(&io_lock);
}

uint32_t hk_mmio_read(uint32_t phys)
{
	struct window *w;

	pthread_mutex_lock(&io_lock);
	w = window_of(phys);
	if (w && w->ops->read) {
		const struct hk_mmio_ops *ops = w->ops;
		void *ctx = w->ctx;
		uint32_t off = phys - w->phys;

		pthread_mutex_unlock(&io_lock);
		return ops->read(ctx, off, 4);
	}
	pthread_mutex_unlock(&io_lock);
	return 0;
}

void hk_mmio_write(uint32_t phys, uint32_t value)
{
	struct window *w;

	pthread_mutex_lock(&io_lock);
	w = window_of(phys);
	if (w && w->ops->write) {
		const struct hk_mmio_ops *ops = w->ops;
		void *ctx = w->ctx;
		uint32_t off = phys - w->phys;

		pthread_mutex_unlock(&io_lock);
		ops->write(ctx, off, value, 4);
		return;
	}
	pthread_mutex_unlock(&io_lock);
}

int hk_mmio_mapped(uint32_t phys)
{
	int i, mapped = 0;

	pthread_mutex_lock(&io_lock);
	for (i = 0; i < MAX_MAPPINGS; i++)
		if (mappings[i].cookie && phys >= mappings[i].phys &&
		    phys - mappings[i].phys < mappings[i].size)
			mapped = 1;
	pthread_mutex_unlock(&io_lock);
	return mapped;
}

void hk_mmio_log_reset(void)
{
	pthread_mutex_lock(&io_lock);
	log_count = 0;
	pthread_mutex_unlock(&io_lock);
}

size_t hk_mmio_log_count(void)
{
	return log_count;
}

const struct hk_mmio_access *hk_mmio_log(void)
{
	return log_entries;
}
