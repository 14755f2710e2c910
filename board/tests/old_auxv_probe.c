/*
 * Started as Linux 2.6.25 starts a program, without AT_RANDOM in the
 * auxiliary vector: the entry removes it, then goes on through the board's
 * entry.  Exercises what the C library sets up from it (stack guard, pointer
 * guard: setjmp, atexit) and a thread; prints "started" and exits 0.
 */
#include <pthread.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>

#define AT_NULL 0
#define AT_IGNORE 1
#define AT_RANDOM 25

/* "used": only probe_start's assembly calls it, which LTO does not read. */
__attribute__((used)) void strip_random(unsigned long *sp)
{
	unsigned long *p = sp + 1 + sp[0] + 1;

	while (*p)
		p++;
	for (p++; p[0] != AT_NULL; p += 2)
		if (p[0] == AT_RANDOM)
			p[0] = AT_IGNORE;
}

__attribute__((naked, noreturn)) void probe_start(void)
{
	__asm__ volatile("mov r0, sp\n\t"
			 "bl strip_random\n\t"
			 "b board_start\n\t");
}

static void *worker(void *arg)
{
	return arg;
}

static void at_end(void)
{
	puts("started");
}

int main(void)
{
	static jmp_buf env;
	pthread_t t;
	void *back = 0;

	if (atexit(at_end) != 0 || pthread_create(&t, 0, worker, &t) != 0 ||
	    pthread_join(t, &back) != 0 || back != &t)
		return 1;
	if (setjmp(env) == 0)
		longjmp(env, 1);
	return 0;
}
