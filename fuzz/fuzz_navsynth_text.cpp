// Transmitter model's text side: any message file split into transmissions,
// each encoded into seven-unit code points and interleaved for DX/RX.
#include "navsynth.h"

#include <bit>
#include <cstdlib>
#include <string>
#include "fuzz_support.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string file(reinterpret_cast<const char *>(data), size);
    for (const std::string &text : navsynth::split_messages(file)) {
        navsynth::Encoded enc = navsynth::encode_text(text);
        if (!enc.error.empty())
            continue;
        // Every code point of the seven-unit code has four 1 bits.
        for (navsynth::Code c : enc.codes)
            check(std::popcount(static_cast<unsigned>(c.bits & 0x7F)) == 4);
        std::vector<navsynth::Code> sent = navsynth::interleave(enc.codes, 2, 1);
        check(sent.size() >= enc.codes.size());
    }
    return 0;
}
