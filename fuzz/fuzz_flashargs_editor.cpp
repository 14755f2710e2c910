// Interactive boot parameter editor: any parameter block, then any command
// lines on standard input (d, i, p, n, a with its network dialog answers,
// w with its key, q, and garbage).  Input: the block's bytes, a NUL byte,
// then what the operator types.
#include "flash_standin.h"
#include "fuzz_support.h"
#include "param_editor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto parts = fuzz::split_parts(data, size, 2);
    fuzz::load_standin_block(parts[0]);
    const std::string keys = fuzz::scratch_dir() + "/keys";
    if (!fuzz::write_file(keys, parts[1].data(), parts[1].size()))
        std::abort();
    if (std::freopen(keys.c_str(), "r", stdin) == nullptr)
        std::abort();
    param_editor(fuzz::standin_paths());

    // Whatever was written back must read again as a text that fits.
    char text[PARAM_BLOCK_SIZE];
    std::memset(text, 0x5A, sizeof text);
    readbootparameters(text, PARAM_TEXT_MAX, fuzz::standin_paths());
    if (strnlen(text, sizeof text) > PARAM_TEXT_MAX)
        std::abort();
    return 0;
}
