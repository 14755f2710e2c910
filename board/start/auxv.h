/*
 * The auxiliary vector a program starts with, as Linux lays it out on the
 * initial stack: argc, argv[], NULL, envp[], NULL, then (type, value) pairs
 * ending in AT_NULL.
 */
#ifndef BOARD_START_AUXV_H
#define BOARD_START_AUXV_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The entry that can be turned into AT_RANDOM when the kernel gave none
 * (Linux before 2.6.29): AT_FLAGS, always 0 and read by nobody, else AT_BASE,
 * 0 for a statically linked program.  Returns 0 when AT_RANDOM is there or
 * no entry can be spared.
 */
unsigned long *auxv_random_slot(unsigned long *initial_sp);

#ifdef __cplusplus
}
#endif

#endif
