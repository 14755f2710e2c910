#ifndef _HK_LINUX_DMA_MAPPING_H
#define _HK_LINUX_DMA_MAPPING_H
/*
 * Coherent DMA memory with 32-bit bus addresses from the board's SDRAM range;
 * the simulated DMA engines reach the memory through those addresses only.
 * Failures injectable (kind "dma_alloc"); live blocks in the ledger under
 * "dma_coherent".
 */
#include <linux/types.h>
#include <linux/gfp.h>
struct device;
void *dma_alloc_coherent(struct device *dev, size_t size, dma_addr_t *handle, gfp_t gfp);
void dma_free_coherent(struct device *dev, size_t size, void *cpu_addr, dma_addr_t handle);
#define dma_alloc_writecombine dma_alloc_coherent
#define dma_free_writecombine dma_free_coherent
#endif
