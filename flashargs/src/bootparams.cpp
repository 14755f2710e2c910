// Boot parameter block in flash: partition detection, block read and write,
// and the tool's error reporting.
#include "bootparams.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

const flash_paths default_flash_paths = {"/proc/mtd", "/dev/mtdblock%d"};

namespace {

constexpr unsigned int PARAM_BLOCK_ADDRESS = 0x00FFF800;

// The conditions are stated in the words of the checks the board's
// operators know from earlier versions of the tool.
constexpr const char *COND_PROC_OPEN = "(f = fopen(\"/proc/mtd\", \"r\")) != ((void *)0)";
constexpr const char *COND_OPEN_READ = "(fd = open(device, 00)) != -1";
constexpr const char *COND_SEEK =
    "lseek(fd, ((128*1024) - (2*1024)), 0) == ((128*1024) - (2*1024))";
constexpr const char *COND_READ = "read(fd, str, maxlen) == maxlen";
constexpr const char *COND_OPEN_WRITE = "(fd = open(device, 02)) != -1";
constexpr const char *COND_WRITE = "write(fd, parameters, (2*1024)) == (2*1024)";

[[noreturn]] void flash_failure(const char *operation, const char *condition,
                                const char *what, const char *reason)
{
    report_error(EXIT_FAILURE, "%s: `%s' failed (%s: %s)", operation, condition, what,
                 reason);
    std::exit(EXIT_FAILURE); // not reached: report_error exits
}

// Why a device could not be opened; an empty path means no partition.
const char *open_failure_reason(const char *device, int err, const flash_paths &paths,
                                std::string &scratch)
{
    if (device[0] == '\0') {
        scratch = std::string("no parameter partition listed in ") + paths.proc_mtd;
        return scratch.c_str();
    }
    return std::strerror(err);
}

// Reads until `count` bytes, end of file or an error; returns the bytes read
// or -1 on an error.
ssize_t read_fully(int fd, unsigned char *buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t write_fully(int fd, const unsigned char *buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

const char *reason_of(ssize_t result, int err, const char *short_text)
{
    return result < 0 ? std::strerror(err) : short_text;
}

} // namespace

void report_error(int status, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> message(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0)
        std::vsnprintf(message.data(), message.size(), format, again);
    va_end(again);

    std::fflush(stdout);
    std::fprintf(stderr, "*Error* %s\n", message.data());
    if (status != 0)
        std::exit(status);
}

int autodetect_mtd(char *device, std::size_t size, const flash_paths &paths)
{
    FILE *f = std::fopen(paths.proc_mtd, "r");
    if (f == nullptr)
        flash_failure("autodetect_mtd", COND_PROC_OPEN, paths.proc_mtd, std::strerror(errno));

    int result = 0;
    char *line = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, f)) != -1) {
        for (ssize_t i = 0; i < length; ++i)
            line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
        if (std::strstr(line, "param") == nullptr)
            continue;
        // The letter run can be as long as the line itself.
        std::vector<char> letters(static_cast<std::size_t>(length) + 1);
        int number = 0;
        if (std::sscanf(line, "%[mtd]%d", letters.data(), &number) < 2) {
            result = -1;
            break;
        }
        std::snprintf(device, size, paths.device_pattern, number);
        std::printf("Autodetected parameters in %s\n", device);
    }
    std::free(line);
    std::fclose(f);
    return result;
}

int readbootparameters(char *text, std::size_t maxlen, const flash_paths &paths)
{
    char device[DEVICE_PATH_SIZE] = "";
    std::string scratch;
    autodetect_mtd(device, sizeof device, paths);

    int fd = ::open(device, O_RDONLY);
    if (fd == -1)
        flash_failure("readbootparameters", COND_OPEN_READ, device,
                      open_failure_reason(device, errno, paths, scratch));
    if (::lseek(fd, PARAM_BLOCK_OFFSET, SEEK_SET) != PARAM_BLOCK_OFFSET)
        flash_failure("readbootparameters", COND_SEEK, device, std::strerror(errno));
    auto *bytes = reinterpret_cast<unsigned char *>(text);
    ssize_t got = read_fully(fd, bytes, maxlen);
    if (got != static_cast<ssize_t>(maxlen))
        flash_failure("readbootparameters", COND_READ, device,
                      reason_of(got, errno, "the device ends inside the parameter block"));
    ::close(fd);

    // Erased flash holds no text. Otherwise the text ends at its 0 or at the
    // first erased byte; a full-length text keeps all its bytes, because the
    // caller's buffer has room for the terminator behind them.
    if (maxlen == 0 || bytes[0] == 0xFF) {
        text[0] = '\0';
        return 0;
    }
    std::size_t end = maxlen;
    for (std::size_t i = 1; i < maxlen; ++i) {
        if (bytes[i] == 0xFF) {
            end = i;
            break;
        }
    }
    text[end] = '\0';
    return 0;
}

int writebootparameters(const char *text, const flash_paths &paths, bool from_editor)
{
    std::size_t length = strnlen(text, PARAM_BLOCK_SIZE);
    if (length > PARAM_TEXT_MAX) {
        report_error(0, "Parameters longer than %zu characters do not fit the FLASH "
                        "block; nothing written",
                     PARAM_TEXT_MAX);
        return -1;
    }

    char device[DEVICE_PATH_SIZE] = "";
    std::string scratch;
    autodetect_mtd(device, sizeof device, paths);

    unsigned char image[PARAM_BLOCK_SIZE];
    std::memset(image, 0xFF, sizeof image);
    std::memcpy(image, text, length);
    image[length] = 0;

    if (from_editor)
        std::printf("Boot parameters start at: 0x%08x\n", PARAM_BLOCK_ADDRESS);
    std::fflush(stdout);

    int fd = ::open(device, O_RDWR);
    if (fd == -1)
        flash_failure("writebootparameters", COND_OPEN_WRITE, device,
                      open_failure_reason(device, errno, paths, scratch));
    if (::lseek(fd, PARAM_BLOCK_OFFSET, SEEK_SET) != PARAM_BLOCK_OFFSET)
        flash_failure("writebootparameters", COND_SEEK, device, std::strerror(errno));
    ssize_t put = write_fully(fd, image, sizeof image);
    if (put != static_cast<ssize_t>(sizeof image))
        flash_failure("writebootparameters", COND_WRITE, device, std::strerror(errno));
    // The block device driver writes its cache back to flash on close.
    if (::close(fd) != 0)
        flash_failure("writebootparameters", COND_WRITE, device, std::strerror(errno));
    return 0;
}
