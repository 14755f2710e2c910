// Parameter files and parameter blocks: any block read and listed, any
// file given to -w stored and read back, and the -r file of that block
// written.  Input: the block's bytes, a NUL byte, then the file's bytes.
#include "bootparams.h"
#include "flash_standin.h"
#include "flashargs.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using fuzz::check;

namespace {

std::string read_block_text()
{
    char text[PARAM_BLOCK_SIZE];
    std::memset(text, 0x5A, sizeof text);
    readbootparameters(text, PARAM_TEXT_MAX, fuzz::standin_paths());
    check(strnlen(text, sizeof text) <= PARAM_TEXT_MAX);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto parts = fuzz::split_parts(data, size, 2);
    fuzz::load_standin_block(parts[0]);
    std::string listed = params_as_lines(read_block_text().c_str());
    check(!listed.empty() && listed.back() == '\n');
    list_params(fuzz::standin_paths());

    const std::string out_file = fuzz::scratch_dir() + "/params.out";
    params_to_file(out_file.c_str(), fuzz::standin_paths());

    const std::string in_file = fuzz::scratch_dir() + "/params.in";
    check(fuzz::write_file(in_file, parts[1].data(), parts[1].size()));
    params_from_file(in_file.c_str(), fuzz::standin_paths());
    std::string stored = read_block_text();
    // -w never stores trailing spaces, newlines or erased-flash bytes.
    check(stored.empty() || stored.back() != ' ');
    check(stored.find('\n') == std::string::npos);
    check(stored.find('\xff') == std::string::npos);

    // What -r writes, -w gives back unchanged.
    params_to_file(out_file.c_str(), fuzz::standin_paths());
    params_from_file(out_file.c_str(), fuzz::standin_paths());
    check(read_block_text() == stored);
    return 0;
}
