#ifndef _HK_LINUX_SLAB_H
#define _HK_LINUX_SLAB_H
/*
 * kmalloc family.  Each call is counted (hk_alloc_calls), can be made to fail
 * (fault kind "kmalloc"), and every live block shows in the ledger under
 * "kmalloc".  A sleeping allocation from interrupt context, a double free or
 * a free of a foreign pointer stops the program with a message.
 */
#include <linux/types.h>
#include <linux/gfp.h>

void *kmalloc(size_t size, gfp_t flags);
void *kzalloc(size_t size, gfp_t flags);
void *kcalloc(size_t n, size_t size, gfp_t flags);
void *krealloc(const void *p, size_t size, gfp_t flags);
void kfree(const void *p);
size_t ksize(const void *p);
char *kstrdup(const char *s, gfp_t flags);
#endif
