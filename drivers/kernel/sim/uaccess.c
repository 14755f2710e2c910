/*
 * User copies on the host: user pointers are host pointers.  The first page
 * and ranges a test unmaps fault; copies stop at the first faulting byte.
 */
#include <asm/uaccess.h>
#include <linux/kernel.h>
#include <linux/string.h>
#include <pthread.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/uaccess.h>

#define MAX_HOLES 16

static pthread_mutex_t holes_lock = PTHREAD_MUTEX_INITIALIZER;
static struct {
	uintptr_t start, end;
} holes[MAX_HOLES];
static int nholes;

void hk_user_unmap(const void *addr, size_t len)
{
	pthread_mutex_lock(&holes_lock);
	if (nholes < MAX_HOLES) {
		holes[nholes].start = (uintptr_t)addr;
		holes[nholes].end = (uintptr_t)addr + len;
		nholes++;
	}
	pthread_mutex_unlock(&holes_lock);
}

void hk_user_map_all(void)
{
	pthread_mutex_lock(&holes_lock);
	nholes = 0;
	pthread_mutex_unlock(&holes_lock);
}

/* Bytes of [addr, addr + n) accessible from its start */
static unsigned long accessible(const void *addr, unsigned long n)
{
	uintptr_t a = (uintptr_t)addr, first = a + n;
	int i;

	if (a < 4096)
		return 0;
	if (a + n < a)
		first = UINTPTR_MAX;
	pthread_mutex_lock(&holes_lock);
	for (i = 0; i < nholes; i++) {
		if (holes[i].end <= a || holes[i].start >= first)
			continue;
		first = holes[i].start > a ? holes[i].start : a;
	}
	pthread_mutex_unlock(&holes_lock);
	return (unsigned long)(first - a);
}

int hk_access_ok(int type, const void *addr, unsigned long size)
{
	(void)type;
	if (!size)
		return 1;
	return accessible(addr, size) == size;
}

unsigned long copy_to_user(void *to, const void *from, unsigned long n)
{
	unsigned long ok;

	if (hk_fault_hit("copy_to_user"))
		return n;
	ok = accessible(to, n);
	if (ok > n)
		ok = n;
	if (ok)
		memcpy(to, from, ok);
	return n - ok;
}

unsigned long copy_from_user(void *to, const void *from, unsigned long n)
{
	unsigned long ok;

	if (hk_fault_hit("copy_from_user")) {
		memset(to, 0, n);
		return n;
	}
	ok = accessible(from, n);
	if (ok > n)
		ok = n;
	if (ok)
		memcpy(to, from, ok);
	memset((char *)to + ok, 0, n - ok);	/* the kernel zeroes what it could not read */
	return n - ok;
}

unsigned long clear_user(void *to, unsigned long n)
{
	unsigned long ok = accessible(to, n);

	if (ok > n)
		ok = n;
	if (ok)
		memset(to, 0, ok);
	return n - ok;
}

int hk_put_user(const void *val, void *ptr, size_t size)
{
	if (hk_fault_hit("put_user") || accessible(ptr, size) < size)
		return -EFAULT;
	memcpy(ptr, val, size);
	return 0;
}

int hk_get_user(void *val, const void *ptr, size_t size)
{
	if (hk_fault_hit("get_user") || accessible(ptr, size) < size) {
		memset(val, 0, size);
		return -EFAULT;
	}
	memcpy(val, ptr, size);
	return 0;
}
