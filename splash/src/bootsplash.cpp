// Frame-buffer mapping and painting.
#include "bootsplash.h"

#include "xpm.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

unsigned char *LCDframebuffer = nullptr;

int init_bootsplash(const char *const *image_arr, const char *device, off_t offset)
{
    int fd = open(device, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // A plain file standing in for the device must cover the whole
    // window, or touching the mapping past its end would raise SIGBUS.
    struct stat st;
    int err = 0;
    if (fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISREG(st.st_mode) && st.st_size < offset + static_cast<off_t>(bootsplash_map_length))
        err = EINVAL;
    if (err != 0) {
        close(fd);
        errno = err;
        return -1;
    }
    void *map = mmap(nullptr, bootsplash_map_length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    err = errno;
    // The mapping outlives the descriptor.
    close(fd);
    if (map == MAP_FAILED) {
        errno = err;
        return -1;
    }
    if (LCDframebuffer != nullptr)
        munmap(LCDframebuffer, bootsplash_map_length);
    LCDframebuffer = static_cast<unsigned char *>(map);
    ReadXPMImage(image_arr, LCDframebuffer, bootsplash_width, bootsplash_height, bootsplash_depth);
    return 0;
}
