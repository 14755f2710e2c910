// logowrite: paints one of the built-in 640 x 240 splash images into the
// LCD frame buffer.
//
// Takes: -s/--splash NAME (USB-DETECT, USB-OK, USB-DONE or USB-ERROR),
// -h/--help, -v/--version.
// Gives: the picture in the first 240 rows of the frame buffer, one byte
// per pixel; the help and version texts on standard error.  Exit status 0,
// except 1 when the frame buffer cannot be mapped.
#include "bootsplash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

#include "usb_detect.xpm"
#include "usb_done.xpm"
#include "usb_error.xpm"
#include "usb_ok.xpm"

// Builds for tests point this at a file standing in for physical memory.
#ifndef LOGOWRITE_FB_DEVICE
#define LOGOWRITE_FB_DEVICE bootsplash_device
#endif

namespace {

const char helptext[] = "\n"
                        "A SAM9263 splash utility\n"
                        "\n"
                        "Usage: logowrite [OPTIONS]\n"
                        "\n"
                        "Arguments:\n"
                        "  -h, --help           Help text (this text)\n"
                        "  -v, --version        Prints version info\n"
                        "  -s, --splash         Splash screen to display. Can be one of:\n"
                        "                         USB-DETECT\n"
                        "                         USB-OK\n"
                        "                         USB-DONE\n"
                        "                         USB-ERROR\n"
                        "\n"
                        "\n";

const char versiontext[] = "\n"
                           "Version 0.1-arm-unknown-linux-gnu build exported\n" __DATE__
                           " " __TIME__ "\n"
                           "\n";

const struct option long_options[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'v'},
    {"splash", required_argument, nullptr, 's'},
    {nullptr, 0, nullptr, 0},
};

struct splash_image {
    const char *name;
    const char *const *image;
};

const splash_image images[] = {
    {"USB-DETECT", usb_detect_xpm},
    {"USB-OK", usb_ok_xpm},
    {"USB-DONE", usb_done_xpm},
    {"USB-ERROR", usb_error_xpm},
};

// Longest splash name kept from the command line.
constexpr size_t splash_name_max = 255;

} // namespace

int main(int argc, char **argv)
{
    std::string splash;
    int c;
    while ((c = getopt_long(argc, argv, "hvs:", long_options, nullptr)) != -1) {
        switch (c) {
        case 'v':
            std::fputs(versiontext, stderr);
            return 0;
        case 's':
            splash.assign(optarg, strnlen(optarg, splash_name_max));
            break;
        case 'h':
        default:
            std::fputs(helptext, stderr);
            return 0;
        }
    }
    if (argc < 2) {
        std::fputs(helptext, stderr);
        return 0;
    }

    const char *const *image = nullptr;
    for (const splash_image &s : images)
        if (splash == s.name)
            image = s.image;
    if (image == nullptr) {
        std::fputs("Error! No argument supplied\n", stderr);
        return 0;
    }

    if (init_bootsplash(image, LOGOWRITE_FB_DEVICE, bootsplash_offset) != 0) {
        std::fprintf(stderr, "logowrite: cannot map the frame buffer in %s: %s\n",
                     LOGOWRITE_FB_DEVICE, std::strerror(errno));
        return 1;
    }
    return 0;
}
