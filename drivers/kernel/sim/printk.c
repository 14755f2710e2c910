/*
 * Console of the host kernel: printk appends to one capture buffer that tests
 * read and clear; HOSTKERNEL_PRINTK=1 in the environment echoes it to stderr.
 *
 * The text is formatted as the 2.6.25 kernel's vsnprintf does, where that
 * differs from the C library: %p is the bare address in hex, zero-padded to
 * the width of a pointer (no "0x" unless asked for with '#'), a null %s is
 * "<NULL>", and conversions the kernel lacks (floating point) come out as
 * written, taking no argument.  One message holds at most 1023 characters,
 * the size of the kernel's printk buffer.
 */
#include <linux/kernel.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <hostkernel/hostkernel.h>

#define PRINTK_BUF 1024

static pthread_mutex_t console_lock = PTHREAD_MUTEX_INITIALIZER;
static char *console;
static size_t console_len, console_cap;
static int echo = -1;

static void console_append(const char *s, size_t n)
{
	if (console_len + n + 1 > console_cap) {
		size_t cap = console_cap ? console_cap : 4096;
		char *p;

		while (console_len + n + 1 > cap)
			cap *= 2;
		p = realloc(console, cap);
		if (!p)
			return;
		console = p;
		console_cap = cap;
	}
	memcpy(console + console_len, s, n);
	console_len += n;
	console[console_len] = '\0';
}

/* Growing output of the formatter; text stays terminated. */
struct kbuf {
	char *p;
	size_t len, cap;
	int failed;
};

static void kput(struct kbuf *b, const char *s, size_t n)
{
	if (b->failed)
		return;
	if (b->len + n + 1 > b->cap) {
		size_t cap = b->cap ? b->cap : 256;
		char *p;

		while (b->len + n + 1 > cap)
			cap *= 2;
		p = realloc(b->p, cap);
		if (!p) {
			b->failed = 1;
			return;
		}
		b->p = p;
		b->cap = cap;
	}
	memcpy(b->p + b->len, s, n);
	b->len += n;
	b->p[b->len] = '\0';
}

static void kputf(struct kbuf *b, const char *spec, ...)
	__attribute__((format(printf, 2, 3)));

static void kputf(struct kbuf *b, const char *spec, ...)
{
	char small[128];
	va_list ap;
	int n;

	va_start(ap, spec);
	n = vsnprintf(small, sizeof(small), spec, ap);
	va_end(ap);
	if (n < 0)
		return;
	if ((size_t)n < sizeof(small)) {
		kput(b, small, (size_t)n);
	} else {
		char *big = malloc((size_t)n + 1);

		if (!big) {
			b->failed = 1;
			return;
		}
		va_start(ap, spec);
		vsnprintf(big, (size_t)n + 1, spec, ap);
		va_end(ap);
		kput(b, big, (size_t)n);
		free(big);
	}
}

/* %p as the kernel's number() writes it: base 16, lower case. */
static void kput_pointer(struct kbuf *b, uintptr_t v, int left, int zero,
			 int special, int width, int precision)
{
	char digits[2 * sizeof(void *) + 1];
	int n = 0, i, pad;

	do {
		digits[n++] = "0123456789abcdef"[v & 15];
		v >>= 4;
	} while (v);
	if (precision < n)
		precision = n;
	pad = width - precision - (special ? 2 : 0);
	if (!left && !zero)
		for (; pad > 0; pad--)
			kput(b, " ", 1);
	if (special)
		kput(b, "0x", 2);
	if (!left)
		for (; pad > 0; pad--)
			kput(b, "0", 1);
	for (i = precision; i > n; i--)
		kput(b, "0", 1);
	while (n)
		kput(b, &digits[--n], 1);
	for (; pad > 0; pad--)
		kput(b, " ", 1);
}

/*
 * One conversion at a time: the C library formats what it formats as the
 * kernel does; pointers, null strings and unknown conversions are done here.
 */
static void kformat(struct kbuf *b, const char *fmt, va_list args)
{
	while (*fmt) {
		char spec[64];
		size_t sl = 0;
		int left = 0, zero = 0, special = 0;
		int width = -1, precision = -1;
		char qual = 0;

		if (*fmt != '%') {
			const char *e = strchr(fmt, '%');
			size_t n = e ? (size_t)(e - fmt) : strlen(fmt);

			kput(b, fmt, n);
			fmt += n;
			continue;
		}
		fmt++;
		spec[sl++] = '%';
		while (*fmt && strchr("-+ #0", *fmt)) {
			if (*fmt == '-')
				left = 1;
			else if (*fmt == '0')
				zero = 1;
			else if (*fmt == '#')
				special = 1;
			if (sl < 8)
				spec[sl++] = *fmt;
			fmt++;
		}
		if (*fmt == '*') {
			width = va_arg(args, int);
			if (width < -4096 || width > 4096)
				width = 4096;
			if (width < 0) {
				width = -width;
				left = 1;
				spec[sl++] = '-';
			}
			fmt++;
		} else if (*fmt >= '0' && *fmt <= '9') {
			width = 0;
			while (*fmt >= '0' && *fmt <= '9') {
				width = 10 * width + (*fmt++ - '0');
				if (width > 4096)
					width = 4096;
			}
		}
		if (*fmt == '.') {
			fmt++;
			precision = 0;
			if (*fmt == '*') {
				precision = va_arg(args, int);
				if (precision < 0)
					precision = 0;
				if (precision > 4096)
					precision = 4096;
				fmt++;
			} else {
				while (*fmt >= '0' && *fmt <= '9') {
					precision = 10 * precision + (*fmt++ - '0');
					if (precision > 4096)
						precision = 4096;
				}
			}
		}
		if (width >= 0)
			sl += (size_t)snprintf(spec + sl, sizeof(spec) - sl, "%d", width);
		if (precision >= 0)
			sl += (size_t)snprintf(spec + sl, sizeof(spec) - sl, ".%d", precision);
		if (*fmt && strchr("hlLZzt", *fmt)) {
			qual = *fmt++;
			if (qual == 'l' && *fmt == 'l') {
				qual = 'L';
				fmt++;
			}
		}
		switch (*fmt) {
		case '%':
			kput(b, "%", 1);
			break;
		case 'c':
			spec[sl++] = 'c';
			spec[sl] = '\0';
			kputf(b, spec, va_arg(args, int));
			break;
		case 's': {
			const char *str = va_arg(args, const char *);

			spec[sl++] = 's';
			spec[sl] = '\0';
			kputf(b, spec, str ? str : "<NULL>");
			break;
		}
		case 'p':
			if (width < 0) {
				width = 2 * (int)sizeof(void *);
				zero = 1;
			}
			kput_pointer(b, (uintptr_t)va_arg(args, void *), left, zero,
				     special, width, precision);
			break;
		case 'n':
			*va_arg(args, int *) = (int)b->len;
			break;
		case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': {
			int is_signed = *fmt == 'd' || *fmt == 'i';

			switch (qual) {
			case 'L':
				memcpy(spec + sl, "ll", 2);
				sl += 2;
				spec[sl++] = *fmt;
				spec[sl] = '\0';
				if (is_signed)
					kputf(b, spec, va_arg(args, long long));
				else
					kputf(b, spec, va_arg(args, unsigned long long));
				break;
			case 'l':
			case 'Z':
			case 'z':
			case 't':
				spec[sl++] = 'l';
				spec[sl++] = *fmt;
				spec[sl] = '\0';
				if (qual == 'l' && is_signed)
					kputf(b, spec, va_arg(args, long));
				else if (qual == 'l')
					kputf(b, spec, va_arg(args, unsigned long));
				else if (qual == 't')
					kputf(b, spec, (long)va_arg(args, ptrdiff_t));
				else if (is_signed)
					kputf(b, spec, (long)va_arg(args, ssize_t));
				else
					kputf(b, spec, (unsigned long)va_arg(args, size_t));
				break;
			case 'h':
				spec[sl++] = *fmt;
				spec[sl] = '\0';
				if (is_signed)
					kputf(b, spec, (int)(short)va_arg(args, int));
				else
					kputf(b, spec, (unsigned)(unsigned short)va_arg(args, int));
				break;
			default:
				spec[sl++] = *fmt;
				spec[sl] = '\0';
				if (is_signed)
					kputf(b, spec, va_arg(args, int));
				else
					kputf(b, spec, va_arg(args, unsigned int));
				break;
			}
			break;
		}
		default:
			/* Not a conversion the kernel knows: written as it stands. */
			kput(b, "%", 1);
			if (*fmt)
				kput(b, fmt, 1);
			else
				fmt--;
			break;
		}
		fmt++;
	}
}

int vprintk(const char *fmt, va_list args)
{
	struct kbuf b = { NULL, 0, 0, 0 };
	va_list copy;
	size_t n;

	va_copy(copy, args);
	kformat(&b, fmt, copy);
	va_end(copy);
	if (b.failed) {
		free(b.p);
		return -1;
	}
	n = b.len < PRINTK_BUF - 1 ? b.len : PRINTK_BUF - 1;

	pthread_mutex_lock(&console_lock);
	if (n)
		console_append(b.p, n);
	if (echo < 0) {
		const char *e = getenv("HOSTKERNEL_PRINTK");

		echo = e && *e && strcmp(e, "0") != 0;
	}
	if (echo && n) {
		fwrite(b.p, 1, n, stderr);
		fflush(stderr);
	}
	pthread_mutex_unlock(&console_lock);
	free(b.p);
	return (int)n;
}

int printk(const char *fmt, ...)
{
	va_list args;
	int n;

	va_start(args, fmt);
	n = vprintk(fmt, args);
	va_end(args);
	return n;
}

const char *hk_printk_text(void)
{
	return console ? console : "";
}

char *hk_printk_copy(void)
{
	char *copy;

	pthread_mutex_lock(&console_lock);
	copy = strdup(console ? console : "");
	pthread_mutex_unlock(&console_lock);
	return copy;
}

size_t hk_printk_length(void)
{
	return console_len;
}

void hk_printk_clear(void)
{
	pthread_mutex_lock(&console_lock);
	console_len = 0;
	if (console)
		console[0] = '\0';
	pthread_mutex_unlock(&console_lock);
}

void hk_bug(const char *file, int line, const char *what)
{
	fprintf(stderr, "hostkernel: kernel BUG at %s:%d: %s\n", file, line, what);
	abort();
}
