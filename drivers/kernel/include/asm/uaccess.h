#ifndef _HK_ASM_UACCESS_H
#define _HK_ASM_UACCESS_H
/*
 * User copies.  User pointers are host pointers; the first page and ranges a
 * test marks unmapped (hostkernel/uaccess.h) fault, and failures can be
 * injected per kind ("copy_to_user", "copy_from_user", "put_user",
 * "get_user").  The copy functions return the bytes not copied.
 */
#include <linux/types.h>
#include <linux/errno.h>

#define VERIFY_READ 0
#define VERIFY_WRITE 1

int hk_access_ok(int type, const void __user *addr, unsigned long size);
#define access_ok(type, addr, size) hk_access_ok(type, (const void *)(addr), size)

unsigned long copy_to_user(void __user *to, const void *from, unsigned long n);
unsigned long copy_from_user(void *to, const void __user *from, unsigned long n);
#define __copy_to_user copy_to_user
#define __copy_from_user copy_from_user
unsigned long clear_user(void __user *to, unsigned long n);

int hk_put_user(const void *val, void __user *ptr, size_t size);
int hk_get_user(void *val, const void __user *ptr, size_t size);

#define put_user(x, ptr) ({						\
	__typeof__(*(ptr)) __pu_val = (x);				\
	hk_put_user(&__pu_val, (ptr), sizeof(*(ptr)));			\
})
#define get_user(x, ptr) ({						\
	__typeof__(*(ptr)) __gu_val;					\
	int __gu_err = hk_get_user((void *)&__gu_val, (ptr), sizeof(*(ptr)));	\
	(x) = __gu_err ? (__typeof__(*(ptr)))0 : __gu_val;		\
	__gu_err;							\
})
#define __put_user put_user
#define __get_user get_user
#endif
