#ifndef _HK_LINUX_SMP_LOCK_H
#define _HK_LINUX_SMP_LOCK_H
/* The big kernel lock: one recursive lock for the machine. */
void lock_kernel(void);
void unlock_kernel(void);
int hk_kernel_locked(void);
#endif
