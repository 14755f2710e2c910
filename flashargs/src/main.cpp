// flashargs: lists, copies and edits the boot parameters in flash.
// Built a second time for the tests with the MTD listing and the partition
// devices looked up in the current directory.
#include "flashargs.h"

#ifndef FLASHARGS_PROC_MTD
#define FLASHARGS_PROC_MTD "/proc/mtd"
#endif
#ifndef FLASHARGS_DEVICE_PATTERN
#define FLASHARGS_DEVICE_PATTERN "/dev/mtdblock%d"
#endif

int main(int argc, char **argv)
{
    const flash_paths paths = {FLASHARGS_PROC_MTD, FLASHARGS_DEVICE_PATTERN};
    return flashargs_main(argc, argv, paths);
}
