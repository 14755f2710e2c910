// XPM reader: any image text painted into a buffer of any small width and
// depth 0 to 4.  Input: three bytes for width, height and depth, then the
// image's lines separated by newlines (a NUL byte ends the array early,
// like a null line reference).
#include "fuzz_support.h"
#include "xpm.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int width = in.ConsumeIntegralInRange<int>(1, 80);
    const int height = in.ConsumeIntegralInRange<int>(1, 40);
    const int depth = in.ConsumeIntegralInRange<int>(0, 4);
    const std::string text = in.ConsumeRemainingBytesAsString();

    // Lines as separate heap blocks, so a read past a line's end is seen.
    std::vector<std::vector<char>> storage;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::vector<char> owned(line.begin(), line.end());
        owned.push_back('\0');
        storage.push_back(std::move(owned));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::vector<const char *> lines;
    for (auto &l : storage)
        lines.push_back(l.data());
    lines.push_back(nullptr);

    // The image's own row count decides how many rows are painted, and it
    // cannot paint more rows than the array has lines.
    std::vector<unsigned char> frame(static_cast<size_t>(width) * lines.size() *
                                     (depth > 0 ? depth : 1));
    ReadXPMImage(lines.data(), frame.data(), width, height, depth);
    // The reader must also cope with no buffer at all.
    ReadXPMImage(lines.data(), nullptr, width, height, depth);
    return 0;
}
