// Frame-buffer access of the splash updater.
//
// Takes: an XPM image (see xpm.h) and the memory device holding the LCD
// frame buffer (by default physical memory "/dev/mem" at 0x23F80000).
// Gives: the image painted into the first rows of the frame buffer, one
// byte per pixel (0x00 dark, 0xFF lit), 640 bytes per row.
#ifndef SPLASH_BOOTSPLASH_H
#define SPLASH_BOOTSPLASH_H

#include <cstddef>
#include <sys/types.h>

constexpr const char *bootsplash_device = "/dev/mem";
constexpr off_t bootsplash_offset = 0x23F80000;
constexpr size_t bootsplash_map_length = 1024 * 1024;
constexpr int bootsplash_width = 640;
constexpr int bootsplash_height = 240;
constexpr int bootsplash_depth = 1;

// Start of the mapped frame buffer, null until init_bootsplash maps it.
extern unsigned char *LCDframebuffer;

// Maps the frame buffer and paints the image: 0 on success, -1 when the
// device cannot be opened or mapped (errno tells why).
int init_bootsplash(const char *const *image_arr, const char *device = bootsplash_device,
                    off_t offset = bootsplash_offset);

#endif
