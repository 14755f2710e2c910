// A stand-in parameter partition for the flash tool's fuzz targets: an MTD
// listing naming partition 3 "param" and a 128 KiB "mtdblock3" file in the
// scratch folder, its parameter block filled from the fuzz input.
#ifndef NAVTEX_FUZZ_FLASH_STANDIN_H
#define NAVTEX_FUZZ_FLASH_STANDIN_H

#include "bootparams.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

inline const flash_paths &standin_paths()
{
    static const std::string listing = scratch_dir() + "/proc-mtd";
    static const std::string pattern = scratch_dir() + "/mtdblock%d";
    static const flash_paths paths{listing.c_str(), pattern.c_str()};
    return paths;
}

// Rewrites the whole stand-in device: erased flash with `block` (cut at
// 2048 bytes) at the parameter block's offset.
inline void load_standin_block(const std::string &block)
{
    static const std::string mtd = "dev:    size   erasesize  name\n"
                                   "mtd3: 00020000 00020000 \"Param\"\n";
    if (!write_file(scratch_dir() + "/proc-mtd", mtd.data(), mtd.size()))
        std::abort();
    std::vector<unsigned char> device(128 * 1024, 0xFF);
    std::copy_n(block.begin(), std::min(block.size(), PARAM_BLOCK_SIZE),
                device.begin() + PARAM_BLOCK_OFFSET);
    if (!write_file(scratch_dir() + "/mtdblock3", device.data(), device.size()))
        std::abort();
}

} // namespace fuzz

#endif
