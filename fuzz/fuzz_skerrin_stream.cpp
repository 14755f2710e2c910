// Acquisition loop and the whole decoding chain: any byte stream as the
// input of 1 to 4 channels, with the side jobs the options ask for (copy
// file or export records, ignore count, stop sample, start-time clock).
// Input: an 8-byte header - channel count, option flags (0x40: the
// enhanced chain, -A), stop sample
// (16 bits), ignore count (16 bits), export channel, unused - then the
// stream.  Seeds are synthesized recordings behind such a header.
#include "fuzz_support.h"
#include "skerrin_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace {

int null_fd()
{
    static int fd = ::open("/dev/null", O_WRONLY);
    return fd;
}

// The recording in memory behind a descriptor, read like a file.
int memory_file(const uint8_t *data, size_t size)
{
    int fd = memfd_create("stream", 0);
    fuzz::require(fd >= 0);
    size_t done = 0;
    while (done < size) {
        ssize_t w = ::write(fd, data + done, size - done);
        fuzz::require(w > 0);
        done += static_cast<size_t>(w);
    }
    fuzz::require(::lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    const int channels = 1 + data[0] % 4;
    const uint8_t flags = data[1];
    skerrin_all *o = fuzz::fresh_daemon(channels);
    if (flags & 0x01)
        o->copy_fd = null_fd();
    if (flags & 0x02)
        o->export_cha = data[6] % (channels + 1) - 1; // -1 .. channels - 1
    if (flags & 0x04)
        o->samp_stop = data[2] | data[3] << 8;
    if (flags & 0x08)
        o->samp_ignored = data[4] | data[5] << 8;
    if (flags & 0x10)
        o->start_time = 1700000000;
    if (flags & 0x20)
        o->dbglev = 0x02; // progress lines (standard output is quiet)
    if (flags & 0x40)
        fuzz::require(skerrin_set_chain(o, SKERRIN_CHAIN_ENHANCED) == 0); // -A

    o->input_fd = memory_file(data + 8, size - 8);
    const int frames = decode_i_q_sig(o);
    ::close(o->input_fd);
    o->input_fd = -1;
    fuzz::require(frames >= 0);
    // Without an ignore count every whole frame is counted once (the
    // loop goes on counting the dropped ones after a stop sample).
    if (!(flags & 0x0C))
        fuzz::require(static_cast<size_t>(frames) == (size - 8) / (4 * channels));
    fuzz::drain_queue(10240 - 8);
    return 0;
}
