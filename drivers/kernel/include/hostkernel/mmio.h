/*
 * The simulated physical bus behind ioremap.  Device models register
 * windows with read/write functions; a mapped range without a model behaves
 * as plain registers.  Every write through a mapping can be logged.
 */
#ifndef HOSTKERNEL_MMIO_H
#define HOSTKERNEL_MMIO_H
#include <stddef.h>
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif
struct hk_mmio_ops {
	uint32_t (*read)(void *ctx, uint32_t offset, int width);
	void (*write)(void *ctx, uint32_t offset, uint32_t value, int width);
};
int hk_mmio_register(uint32_t phys, uint32_t size, const struct hk_mmio_ops *ops, void *ctx);
void hk_mmio_unregister(uint32_t phys);
/* Direct physical access, bypassing mappings (for tests) */
uint32_t hk_mmio_read(uint32_t phys);
void hk_mmio_write(uint32_t phys, uint32_t value);
/* 1 when some live mapping covers that physical address */
int hk_mmio_mapped(uint32_t phys);

struct hk_mmio_access {
	uint32_t phys;
	uint32_t value;
};
/* The log of writes through mappings, oldest first; cleared by reset */
void hk_mmio_log_reset(void);
size_t hk_mmio_log_count(void);
const struct hk_mmio_access *hk_mmio_log(void);
#ifdef __cplusplus
}
#endif
#endif
