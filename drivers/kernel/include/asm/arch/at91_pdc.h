#include <linux/atmel_pdc.h>
