/* Coherent DMA memory as the simulated bus masters see it. */
#ifndef HOSTKERNEL_DMA_H
#define HOSTKERNEL_DMA_H
#include <stddef.h>
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif
/* Host address of bus range [bus, bus + len), or NULL unless it lies inside
 * one live allocation */
void *hk_dma_virt(uint32_t bus, size_t len);
/* Which live allocation a bus address falls in: its base, or 0 */
uint32_t hk_dma_block(uint32_t bus);
#ifdef __cplusplus
}
#endif
#endif
