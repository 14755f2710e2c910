// navsdr's input paths: any bytes as headerless I/Q in each sample format,
// cut into reads of any size, or as a WAV/RF64 file read through
// libsndfile with its auxi chunk, then through the converter.  Input: a
// 4-byte header - path and format, rate choice, centre choice, read size -
// then the bytes.  A WAV must give two channels or be refused; the stream
// must come out in whole frames with the buffer-end mark exactly on the
// last word of every 64th frame.
#include "fuzz_support.h"
#include "stream_check.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture.h"
#include "iq_format.h"
#include "navsdr.h"

using fuzz::check;

namespace {

struct Memory {
    const uint8_t *data;
    sf_count_t size, pos;
};

sf_count_t vlen(void *u) { return static_cast<Memory *>(u)->size; }
sf_count_t vseek(sf_count_t off, int whence, void *u)
{
    Memory &m = *static_cast<Memory *>(u);
    sf_count_t p = whence == SEEK_SET ? off : whence == SEEK_CUR ? m.pos + off : m.size + off;
    if (p < 0 || p > m.size)
        return -1;
    return m.pos = p;
}
sf_count_t vread(void *ptr, sf_count_t n, void *u)
{
    Memory &m = *static_cast<Memory *>(u);
    const sf_count_t got = n < m.size - m.pos ? n : m.size - m.pos;
    if (got > 0)
        memcpy(ptr, m.data + m.pos, static_cast<size_t>(got));
    m.pos += got > 0 ? got : 0;
    return got > 0 ? got : 0;
}
sf_count_t vwrite(const void *, sf_count_t, void *) { return 0; }
sf_count_t vtell(void *u) { return static_cast<Memory *>(u)->pos; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    static const double rates[] = {8000, 62500, 250000, 2048000};
    static const double centres[] = {504000, 490000, 4209500, 10000000};
    const bool wav = data[0] & 0x80;
    const iq_format::Format fmt = static_cast<iq_format::Format>(data[0] & 3);
    navsdr::Settings s;
    s.in_rate = rates[(data[1] >> 2) & 3];
    s.centre_hz = centres[data[2] & 3] + (data[2] >> 2) * 97.0;
    const size_t read_size = 1 + data[3] * 13;
    data += 4;
    size -= 4;

    std::vector<float> iq;
    if (wav) {
        Memory m{data, static_cast<sf_count_t>(size), 0};
        SF_VIRTUAL_IO io{vlen, vseek, vread, vwrite, vtell};
        SF_INFO info{};
        SNDFILE *sf = sf_open_virtual(&io, SFM_READ, &info, &m);
        if (!sf)
            return 0;
        double hz = 0;
        if (navsdr::centre_from_sound_file(sf, hz))
            s.centre_hz = hz;
        if (info.channels == 2 && info.samplerate > 0) {
            s.in_rate = info.samplerate;
            std::vector<float> block(2 * 1024);
            sf_count_t got;
            while (iq.size() < (1u << 20) && (got = sf_readf_float(sf, block.data(), 1024)) > 0)
                iq.insert(iq.end(), block.begin(), block.begin() + 2 * got);
        }
        sf_close(sf);
        // As navsdr does with float files: the converter takes finite samples.
        for (float &v : iq)
            if (!std::isfinite(v))
                v = 0.0f;
    } else {
        iq_format::Decoder dec(fmt);
        for (size_t k = 0; k < size; k += read_size)
            dec.decode(data + k, std::min(read_size, size - k), iq);
        const size_t sample = 2 * iq_format::value_bytes(fmt);
        check(iq.size() == 2 * (size / sample));
        check(dec.dangling() == size % sample);
    }
    // The decoder silences NaN and infinite values of float files.
    if (!wav)
        for (float v : iq)
            check(std::isfinite(v));

    if (!navsdr::check(s).empty())
        return 0;
    navsdr::Converter conv(s, 0.5);
    check(conv.error().empty());
    std::vector<unsigned char> out;
    for (size_t k = 0; k < iq.size() / 2; k += 4096)
        conv.push(iq.data() + 2 * k, std::min<size_t>(4096, iq.size() / 2 - k), out);
    conv.finish(out);
    check(conv.decided());
    fuzz::check_device_stream(out, conv.frames());
    return 0;
}
