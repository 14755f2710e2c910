/*
 * Entry point of the board's statically linked programs, ahead of the C
 * library's _start.  The C library (glibc 2.36) takes its stack-protector
 * and pointer-guard values from the 16 bytes that AT_RANDOM points to and
 * reads them without looking: on the board's Linux 2.6.25, which passes no
 * AT_RANDOM (that came with 2.6.29), every program would fault before main.
 * So when the entry is missing, 16 bytes from /dev/urandom are put in its
 * place.  Runs before the C library is set up: raw system calls only.
 */
#include "auxv.h"

#define AT_RANDOM 25

static unsigned char random_bytes[16];

static long raw_call3(long nr, long a, long b, long c)
{
	register long r0 __asm__("r0") = a;
	register long r1 __asm__("r1") = b;
	register long r2 __asm__("r2") = c;
	register long r7 __asm__("r7") = nr;

	__asm__ volatile("svc 0" : "+r"(r0) : "r"(r1), "r"(r2), "r"(r7) : "memory");
	return r0;
}

/* Called only from board_start's assembly, which the compiler does not
 * read: "used" keeps a link-time optimised build from dropping it. */
__attribute__((used)) void board_add_random(unsigned long *initial_sp)
{
	unsigned long *slot = auxv_random_slot(initial_sp);
	long fd;

	if (!slot)
		return;
	fd = raw_call3(5 /* open */, (long)"/dev/urandom", 0 /* O_RDONLY */, 0);
	if (fd >= 0) {
		raw_call3(3 /* read */, fd, (long)random_bytes, sizeof random_bytes);
		raw_call3(6 /* close */, fd, 0, 0);
	}
	/* Without /dev/urandom the bytes still differ from run to run. */
	for (unsigned int i = 0; i < sizeof random_bytes; i++)
		random_bytes[i] ^= (unsigned char)((unsigned long)initial_sp >> (i % 4 * 8));
	slot[0] = AT_RANDOM;
	slot[1] = (unsigned long)random_bytes;
}

/* r0 is 0 at _start: no exit function from a dynamic linker.  "used":
 * the programs name it as their entry, but the start-up probe reaches it
 * only from its own assembly. */
__attribute__((used, naked, noreturn)) void board_start(void)
{
	__asm__ volatile("mov r0, sp\n\t"
			 "bl board_add_random\n\t"
			 "mov r0, #0\n\t"
			 "b _start\n\t");
}
