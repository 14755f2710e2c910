// navaudio's headerless input path: any bytes as signed 16-bit audio, cut
// into reads of any size, through the centre finder and the converter.
// Input: a 4-byte header - rate choice, centre (two bytes), flags - then
// the audio bytes.  The stream must come out in whole frames with the
// buffer-end mark exactly on the last word of every 64th frame.
#include "fuzz_support.h"
#include "stream_check.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "navaudio.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    static const double rates[] = {4000, 8000, 11025, 22050, 44100, 48000, 96000, 768000};
    navaudio::Settings s;
    s.in_rate = rates[data[0] % 8];
    s.centre_hz = 200 + (data[1] | data[2] << 8) % 3300;
    s.invert = data[3] & 1;
    s.channel = (data[3] >> 1) % 3;
    s.frame_rate = (data[3] & 8) ? 1700.0 : 1707.65;
    const size_t read_size = 1 + (data[3] >> 4) * 97; // odd sizes split samples
    data += 4;
    size -= 4;

    navaudio::RawS16 raw;
    std::vector<float> audio;
    for (size_t k = 0; k < size; k += read_size)
        raw.decode(data + k, std::min(read_size, size - k), audio);
    check(audio.size() == size / 2);
    check(raw.dangling() == (size % 2 == 1));

    navaudio::CentreFinder finder(s.in_rate);
    finder.push(audio.data(), audio.size());
    double centre = 0;
    if (finder.result(centre))
        check(centre >= navaudio::kLowestCentre - 20 && centre <= navaudio::kHighestCentre + 20);

    if (!navaudio::check(s).empty())
        return 0;
    navaudio::Converter conv(s);
    check(conv.error().empty());
    std::vector<unsigned char> out;
    for (size_t k = 0; k < audio.size(); k += 4096)
        conv.push(audio.data() + k, std::min<size_t>(4096, audio.size() - k), out);
    conv.finish(out);
    fuzz::check_device_stream(out, conv.frames());
    return 0;
}
