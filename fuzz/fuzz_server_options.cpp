// Command lines of the two test servers: any words as arguments.  The
// parsers must return a verdict (go on, or an exit status) and leave
// settings within range.
#include "feedmock.h"
#include "filefeed.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using fuzz::check;

namespace {

void quiet_log(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silence_stdout();
    g_log_set_default_handler(quiet_log, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto words = fuzz::split_parts(data, size, 12);
    std::vector<std::vector<char>> storage;
    for (const auto &w : words) {
        std::vector<char> s(w.begin(), w.end());
        s.push_back('\0');
        storage.push_back(std::move(s));
    }
    std::vector<char *> argv;
    for (auto &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    // The parsers may permute argv; each gets its own copy.
    std::vector<char *> a1 = argv;
    filefeed_options fo;
    int r = filefeed_parse_options(argc, a1.data(), &fo);
    check(r == -1 || r >= 0);
    if (r == -1)
        check(fo.port >= 1 && fo.port <= 65535 && fo.interval >= 0);

    std::vector<char *> a2 = argv;
    feedmock_settings fs;
    r = feedmock_parse_options(argc, a2.data(), &fs);
    check(r == -1 || r >= 0);
    if (r == -1)
        check(fs.freq_index >= 0 && fs.freq_index <= 2);
    return 0;
}
