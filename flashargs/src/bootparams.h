// Boot parameter block in flash.
//
// The board keeps one text of space-separated boot parameter words, at most
// 2047 characters, in a 2048-byte block at byte 129024 (0x1F800) of the MTD
// partition whose "/proc/mtd" line names "param". The block holds the text,
// a 0 terminator and 0xFF (erased flash) up to its end; a block starting
// with 0xFF holds no parameters. The listing and the device path pattern
// are parameters so that the same code can work on stand-in files.
#pragma once

#include <cstddef>

constexpr std::size_t PARAM_BLOCK_SIZE = 2 * 1024;
constexpr std::size_t PARAM_TEXT_MAX = PARAM_BLOCK_SIZE - 1;
constexpr long PARAM_BLOCK_OFFSET = 128 * 1024 - 2 * 1024;
constexpr std::size_t DEVICE_PATH_SIZE = 256;

// Where the MTD listing and the partition block devices are found.
struct flash_paths {
    const char *proc_mtd;       // the MTD partition listing
    const char *device_pattern; // block device path, "%d" = partition number
};

extern const flash_paths default_flash_paths;

// Scans the MTD listing; every line naming "param" (any case) is announced
// and sets `device`, so the last such line decides. Returns 0 at the end of
// the listing, -1 when a matching line has no "mtd<number>" at its start.
// An unreadable listing ends the program.
int autodetect_mtd(char *device, std::size_t size,
                   const flash_paths &paths = default_flash_paths);

// Reads `maxlen` bytes of the parameter block into `text` (maxlen + 1 bytes
// of room) and terminates the text there. Flash access failures end the
// program. Returns 0.
int readbootparameters(char *text, std::size_t maxlen,
                       const flash_paths &paths = default_flash_paths);

// Writes `text` with its terminator and 0xFF fill into the parameter block.
// Returns 0, or -1 (nothing written) when the text is longer than 2047
// characters. Flash access failures end the program.
int writebootparameters(const char *text,
                        const flash_paths &paths = default_flash_paths,
                        bool from_editor = false);

// Prints "*Error* <message>" on standard error; a non-zero status ends the
// program with that status.
[[gnu::format(printf, 2, 3)]] void report_error(int status, const char *format, ...);
