/*
 * Error numbers: the system's, plus the ones only the kernel uses.
 */
#include_next <linux/errno.h>
#if defined(__KERNEL__) && !defined(_HK_LINUX_ERRNO_H)
#define _HK_LINUX_ERRNO_H
#define ERESTARTSYS	512
#define ERESTARTNOINTR	513
#define ERESTARTNOHAND	514
#define ENOIOCTLCMD	515
#define ERESTART_RESTARTBLOCK 516
#define EBADHANDLE	521
#define ENOTSUPP	524
#endif
