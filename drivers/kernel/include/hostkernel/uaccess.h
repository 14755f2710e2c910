/*
 * User memory seen from the simulated kernel: the first page never maps, and
 * a test can mark more ranges unmapped; copies stop at the first unmapped
 * byte.
 */
#ifndef HOSTKERNEL_UACCESS_H
#define HOSTKERNEL_UACCESS_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
void hk_user_unmap(const void *addr, size_t len);
void hk_user_map_all(void);
#ifdef __cplusplus
}
#endif
#endif
