#include "auxv.h"

enum { at_null = 0, at_base = 7, at_flags = 8, at_random = 25 };

unsigned long *auxv_random_slot(unsigned long *initial_sp)
{
	unsigned long *p = initial_sp + 1 + initial_sp[0] + 1; /* past argv */
	unsigned long *flags = 0, *base = 0;

	while (*p)
		p++; /* past envp */
	for (p++; p[0] != at_null; p += 2) {
		if (p[0] == at_random)
			return 0;
		if (p[0] == at_flags)
			flags = p;
		else if (p[0] == at_base && p[1] == 0)
			base = p;
	}
	return flags ? flags : base;
}
