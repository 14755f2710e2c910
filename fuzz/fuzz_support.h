// Helpers shared by the fuzz targets: a property check, quiet standard
// output, a private scratch folder, and splitting an input into
// NUL-separated parts.
#ifndef NAVTEX_FUZZ_SUPPORT_H
#define NAVTEX_FUZZ_SUPPORT_H

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz {

// A property that must hold: a failure is a finding (libFuzzer reports the
// abort with the input).
inline void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The programs under test print listings and progress on standard output;
// at tens of thousands of runs a second that would drown libFuzzer's own
// report (which goes to standard error).
inline void silence_stdout()
{
    std::fflush(stdout);
    int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
        ::dup2(null_fd, STDOUT_FILENO);
        ::close(null_fd);
    }
}

inline void remove_scratch_dir();

// A folder of its own under TMPDIR (or else /dev/shm, as the targets that
// write files run many times faster in memory, or /tmp), made once per
// process and removed at its exit.
inline const std::string &scratch_dir()
{
    // Never destroyed: the exit handler below still needs it.
    static const std::string &dir = *[] {
        const char *base = std::getenv("TMPDIR");
        std::string root = base && *base ? base : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = root + "/navtex-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::atexit(remove_scratch_dir);
        return new std::string(buf.data());
    }();
    return dir;
}

inline void remove_scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir(), ignored);
}

inline bool write_file(const std::string &path, const void *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Splits at the first `count` - 1 NUL bytes; missing parts are empty, the
// last part keeps whatever follows (NUL bytes included).
inline std::vector<std::string> split_parts(const uint8_t *data, size_t size, size_t count)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i < size && parts.size() + 1 < count; ++i) {
        if (data[i] == 0) {
            parts.emplace_back(reinterpret_cast<const char *>(data) + start, i - start);
            start = i + 1;
        }
    }
    parts.emplace_back(reinterpret_cast<const char *>(data) + start, size - start);
    parts.resize(count);
    return parts;
}

} // namespace fuzz

#endif
