/*
 * Console of the host kernel: printk appends to one capture buffer that tests
 * read and clear; HOSTKERNEL_PRINTK=1 in the environment echoes it to stderr.
 */
#include <linux/kernel.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <hostkernel/hostkernel.h>

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

int vprintk(const char *fmt, va_list args)
{
	char small[512];
	char *text = small;
	va_list again;
	int n;

	va_copy(again, args);
	n = vsnprintf(small, sizeof(small), fmt, args);
	if (n < 0) {
		va_end(again);
		return n;
	}
	if ((size_t)n >= sizeof(small)) {
		text = malloc((size_t)n + 1);
		if (!text) {
			va_end(again);
			return -1;
		}
		vsnprintf(text, (size_t)n + 1, fmt, again);
	}
	va_end(again);

	pthread_mutex_lock(&console_lock);
	console_append(text, (size_t)n);
	if (echo < 0) {
		const char *e = getenv("HOSTKERNEL_PRINTK");

		echo = e && *e && strcmp(e, "0") != 0;
	}
	if (echo) {
		fwrite(text, 1, (size_t)n, stderr);
		fflush(stderr);
	}
	pthread_mutex_unlock(&console_lock);
	if (text != small)
		free(text);
	return n;
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
