// Cost of painting a built-in splash image into a 640 x 240 buffer.
#include "xpm.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "usb_detect.xpm"
#include "usb_ok.xpm"

namespace {

void paint(benchmark::State &state, const char *const *xpm, int depth)
{
    // The reader prints a line per image: send it away while timing.
    std::fflush(stdout);
    int saved = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    std::vector<unsigned char> buf(640 * 240 * depth);
    for (auto _ : state) {
        ReadXPMImage(xpm, buf.data(), 640, 240, depth);
        benchmark::DoNotOptimize(buf.data());
    }
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null_fd);
    state.SetItemsProcessed(state.iterations() * 640 * 240);
}

void BM_PaintDetectDepth1(benchmark::State &state) { paint(state, usb_detect_xpm, 1); }
void BM_PaintOkDepth1(benchmark::State &state) { paint(state, usb_ok_xpm, 1); }
void BM_PaintDetectDepth3(benchmark::State &state) { paint(state, usb_detect_xpm, 3); }

} // namespace

BENCHMARK(BM_PaintDetectDepth1);
BENCHMARK(BM_PaintOkDepth1);
BENCHMARK(BM_PaintDetectDepth3);
BENCHMARK_MAIN();
