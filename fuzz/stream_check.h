// The device stream a converter wrote, as the fuzz targets of the audio
// and SDR converters check it: whole frames of three channels, as many as
// the converter counted, each device buffer's last word marked.
#ifndef NAVTEX_FUZZ_STREAM_CHECK_H
#define NAVTEX_FUZZ_STREAM_CHECK_H

#include <cstddef>
#include <vector>

#include "fuzz_support.h"
#include "stream_format.h"

namespace fuzz {

inline void check_device_stream(const std::vector<unsigned char> &out, size_t frames)
{
    const size_t fb = static_cast<size_t>(stream_format::frame_bytes(3));
    check(out.size() % fb == 0 && out.size() / fb == frames);
    for (size_t f = 0; f < out.size() / fb; f++)
        for (int w = 0; w < 6; w++) {
            const bool mark = out[fb * f + 2 * w + 1] & 0x80;
            check(mark == (w == 5 && (f + 1) % stream_format::kFramesPerDeviceBuffer == 0));
        }
}

} // namespace fuzz

#endif
