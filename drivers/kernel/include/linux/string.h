#ifndef __KERNEL__
#include_next <linux/string.h>
#else
#ifndef _HK_LINUX_STRING_H
#define _HK_LINUX_STRING_H
#include <string.h>
#endif
#endif
