/*
 * Coherent DMA memory: host blocks with 32-bit bus addresses handed out from
 * the board's SDRAM range, so the simulated DMA engines can reach them by
 * bus address and notice when they no longer exist.
 */
#include <linux/dma-mapping.h>
#include <linux/kernel.h>
#include <linux/hardirq.h>
#include <linux/string.h>
#include <pthread.h>
#include <stdio.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/dma.h>

#define MAX_BLOCKS 256
#define BUS_BASE 0x20100000u

static pthread_mutex_t dma_lock = PTHREAD_MUTEX_INITIALIZER;
static struct block {
	uint32_t bus;
	size_t size;
	void *virt;
} blocks[MAX_BLOCKS];
static uint32_t next_bus = BUS_BASE;

void *dma_alloc_coherent(struct device *dev, size_t size, dma_addr_t *handle, gfp_t gfp)
{
	size_t rounded = (size + 4095) & ~(size_t)4095;
	void *p;
	int i;

	if ((gfp & __GFP_WAIT) && in_interrupt())
		hk_bug(__FILE__, __LINE__, "sleeping DMA allocation in interrupt context");
	if (!size || hk_fault_hit("dma_alloc"))
		return NULL;
	p = aligned_alloc(4096, rounded);
	if (!p)
		return NULL;
	memset(p, 0x5a, rounded);	/* not cleared, as on the board */
	pthread_mutex_lock(&dma_lock);
	for (i = 0; i < MAX_BLOCKS; i++) {
		if (!blocks[i].virt) {
			blocks[i].virt = p;
			blocks[i].size = size;
			blocks[i].bus = next_bus;
			/* bus addresses are never reused, so stale ones stay detectable */
			next_bus += (uint32_t)rounded + 4096;
			*handle = blocks[i].bus;
			pthread_mutex_unlock(&dma_lock);
			hk_res_acquire("dma_coherent");
			return p;
		}
	}
	pthread_mutex_unlock(&dma_lock);
	free(p);
	return NULL;
}

void dma_free_coherent(struct device *dev, size_t size, void *cpu_addr, dma_addr_t handle)
{
	int i;

	pthread_mutex_lock(&dma_lock);
	for (i = 0; i < MAX_BLOCKS; i++) {
		if (blocks[i].virt && blocks[i].virt == cpu_addr) {
			if (blocks[i].bus != handle || blocks[i].size != size) {
				pthread_mutex_unlock(&dma_lock);
				fprintf(stderr, "hostkernel: dma_free_coherent(%zu, %p, %#x) does not match "
					"the allocation (%zu, %#x)\n", size, cpu_addr, handle,
					blocks[i].size, blocks[i].bus);
				abort();
			}
			blocks[i].virt = NULL;
			pthread_mutex_unlock(&dma_lock);
			free(cpu_addr);
			hk_res_release("dma_coherent");
			return;
		}
	}
	pthread_mutex_unlock(&dma_lock);
	fprintf(stderr, "hostkernel: dma_free_coherent of %p, which is not allocated\n", cpu_addr);
	abort();
}

void *hk_dma_virt(uint32_t bus, size_t len)
{
	void *p = NULL;
	int i;

	pthread_mutex_lock(&dma_lock);
	for (i = 0; i < MAX_BLOCKS; i++) {
		if (blocks[i].virt && bus >= blocks[i].bus &&
		    (uint64_t)bus + len <= (uint64_t)blocks[i].bus + blocks[i].size) {
			p = (char *)blocks[i].virt + (bus - blocks[i].bus);
			break;
		}
	}
	pthread_mutex_unlock(&dma_lock);
	return p;
}

uint32_t hk_dma_block(uint32_t bus)
{
	uint32_t base = 0;
	int i;

	pthread_mutex_lock(&dma_lock);
	for (i = 0; i < MAX_BLOCKS; i++)
		if (blocks[i].virt && bus >= blocks[i].bus && bus - blocks[i].bus < blocks[i].size)
			base = blocks[i].bus;
	pthread_mutex_unlock(&dma_lock);
	return base;
}
