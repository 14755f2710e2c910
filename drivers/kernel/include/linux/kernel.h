#ifndef __KERNEL__
#include_next <linux/kernel.h>
#else
#ifndef _HK_LINUX_KERNEL_H
#define _HK_LINUX_KERNEL_H
/*
 * printk goes to a capture buffer (hostkernel.h: hk_printk_*); level prefixes
 * such as "<6>" stay in the text as the console log would show them raw.
 */
#include <stdarg.h>
#include <stdlib.h>
#include <linux/types.h>
#include <linux/compiler.h>

#define KERN_EMERG	"<0>"
#define KERN_ALERT	"<1>"
#define KERN_CRIT	"<2>"
#define KERN_ERR	"<3>"
#define KERN_WARNING	"<4>"
#define KERN_NOTICE	"<5>"
#define KERN_INFO	"<6>"
#define KERN_DEBUG	"<7>"

int printk(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int vprintk(const char *fmt, va_list args);

/* Formatting into buffers, as the kernel's own vsprintf offers. */
int sprintf(char *buf, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int snprintf(char *buf, size_t size, const char *fmt, ...)
	__attribute__((format(printf, 3, 4)));
int vsnprintf(char *buf, size_t size, const char *fmt, va_list args);

#define pr_info(fmt, ...) printk(KERN_INFO fmt, ##__VA_ARGS__)
#define pr_err(fmt, ...) printk(KERN_ERR fmt, ##__VA_ARGS__)
#define pr_warning(fmt, ...) printk(KERN_WARNING fmt, ##__VA_ARGS__)
#define pr_notice(fmt, ...) printk(KERN_NOTICE fmt, ##__VA_ARGS__)
#ifdef DEBUG
#define pr_debug(fmt, ...) printk(KERN_DEBUG fmt, ##__VA_ARGS__)
#else
#define pr_debug(fmt, ...) do { if (0) printk(KERN_DEBUG fmt, ##__VA_ARGS__); } while (0)
#endif

/* A broken kernel invariant stops the host program with a message. */
void hk_bug(const char *file, int line, const char *what) __attribute__((noreturn));
#define BUG() hk_bug(__FILE__, __LINE__, "BUG")
#define BUG_ON(c) do { if (unlikely(c)) hk_bug(__FILE__, __LINE__, #c); } while (0)
#define WARN_ON(c) ({ int __w = !!(c); if (unlikely(__w)) \
	printk(KERN_WARNING "WARNING: at %s:%d %s\n", __FILE__, __LINE__, #c); \
	unlikely(__w); })

#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#define container_of(ptr, type, member) \
	((type *)((char *)(ptr) - offsetof(type, member)))
#define min(x, y) ({ __typeof__(x) _x = (x); __typeof__(y) _y = (y); \
	(void)(&_x == &_y); _x < _y ? _x : _y; })
#define max(x, y) ({ __typeof__(x) _x = (x); __typeof__(y) _y = (y); \
	(void)(&_x == &_y); _x > _y ? _x : _y; })
#define min_t(type, x, y) ({ type _x = (x); type _y = (y); _x < _y ? _x : _y; })
#define max_t(type, x, y) ({ type _x = (x); type _y = (y); _x > _y ? _x : _y; })
#define clamp(v, lo, hi) min(max(v, lo), hi)
#define DIV_ROUND_UP(n, d) (((n) + (d) - 1) / (d))
#define ALIGN(x, a) (((x) + (a) - 1) & ~((__typeof__(x))(a) - 1))

long simple_strtol(const char *cp, char **endp, unsigned int base);
unsigned long simple_strtoul(const char *cp, char **endp, unsigned int base);
#define simple_strtol(cp, endp, base) strtol(cp, endp, base)
#define simple_strtoul(cp, endp, base) strtoul(cp, endp, base)

#endif
#endif
