/*
 * kmalloc family on the host heap, with a header per block so that double
 * and foreign frees are caught, every call counted, failures injectable
 * (kind "kmalloc") and live blocks kept in the ledger (kind "kmalloc").
 */
#include <linux/slab.h>
#include <linux/kernel.h>
#include <linux/hardirq.h>
#include <linux/string.h>
#include <stdio.h>
#include <pthread.h>
#include <hostkernel/hostkernel.h>

#define BLOCK_MAGIC 0x6b6d616c6c6f6321ull
#define BLOCK_DEAD 0x6465616462656566ull

struct block {
	unsigned long long magic;
	size_t size;
	unsigned long long pad;	/* keeps the payload 16-byte aligned */
};

static long alloc_calls;

/* Freed blocks wait here before going back to the heap, so that a second
 * free of the same pointer still finds it marked dead. */
#define QUARANTINE 256
static pthread_mutex_t quarantine_lock = PTHREAD_MUTEX_INITIALIZER;
static struct block *quarantine[QUARANTINE];
static unsigned quarantine_next;

long hk_alloc_calls(void)
{
	return __atomic_load_n(&alloc_calls, __ATOMIC_SEQ_CST);
}

void *kmalloc(size_t size, gfp_t flags)
{
	struct block *b;

	__atomic_add_fetch(&alloc_calls, 1, __ATOMIC_SEQ_CST);
	if ((flags & __GFP_WAIT) && in_interrupt())
		hk_bug(__FILE__, __LINE__, "sleeping allocation in interrupt context");
	if (hk_fault_hit("kmalloc"))
		return NULL;
	b = malloc(sizeof(*b) + (size ? size : 1));
	if (!b)
		return NULL;
	b->magic = BLOCK_MAGIC;
	b->size = size;
	if (flags & __GFP_ZERO)
		memset(b + 1, 0, size);
	else
		memset(b + 1, 0xa5, size);	/* make use of uninitialised memory visible */
	hk_res_acquire("kmalloc");
	return b + 1;
}

void *kzalloc(size_t size, gfp_t flags)
{
	return kmalloc(size, flags | __GFP_ZERO);
}

void *kcalloc(size_t n, size_t size, gfp_t flags)
{
	if (size && n > (size_t)-1 / size)
		return NULL;
	return kzalloc(n * size, flags);
}

static struct block *block_of(const void *p, const char *what)
{
	struct block *b = (struct block *)p - 1;

	if (b->magic != BLOCK_MAGIC) {
		fprintf(stderr, "hostkernel: %s of %p: %s\n", what, p,
			b->magic == BLOCK_DEAD ? "already freed" : "not from kmalloc");
		abort();
	}
	return b;
}

size_t ksize(const void *p)
{
	return p ? block_of(p, "ksize")->size : 0;
}

void kfree(const void *p)
{
	struct block *b;

	if (!p)
		return;
	b = block_of(p, "kfree");
	b->magic = BLOCK_DEAD;
	hk_res_release("kmalloc");
	pthread_mutex_lock(&quarantine_lock);
	free(quarantine[quarantine_next]);
	quarantine[quarantine_next] = b;
	quarantine_next = (quarantine_next + 1) % QUARANTINE;
	pthread_mutex_unlock(&quarantine_lock);
}

void *krealloc(const void *p, size_t size, gfp_t flags)
{
	void *n;
	size_t old;

	if (!size) {
		kfree(p);
		return NULL;
	}
	n = kmalloc(size, flags);
	if (!n)
		return NULL;
	if (p) {
		old = ksize(p);
		memcpy(n, p, old < size ? old : size);
		kfree(p);
	}
	return n;
}

char *kstrdup(const char *s, gfp_t flags)
{
	size_t n;
	char *p;

	if (!s)
		return NULL;
	n = strlen(s) + 1;
	p = kmalloc(n, flags);
	if (p)
		memcpy(p, s, n);
	return p;
}
