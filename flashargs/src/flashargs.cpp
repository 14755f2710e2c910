// Command line of the boot parameter tool.
#include "flashargs.h"

#include "param_editor.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

namespace {

constexpr const char *USAGE =
    "Program to read or write boot parameters on the TARV computer board\n"
    " Usage: ..# flashargs [options]\n"
    "\n"
    " -h           : help (this text)\n"
    " -l           : list params on stdout\n"
    " -r <file>    : Read boot parameters from FLASH and write the to <file>\n"
    " -w <file>    : Read boot parameters <file> and write the to FLASH\n"
    " no options   : Edit boot parameters in interactive mode\n"
    "\n"
    "usage example: ..# flashargs -w /tmp/optionsfile\n"
    "\n";

bool write_all(int fd, const std::string &data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string params_as_lines(const char *text)
{
    std::string lines(text);
    for (char &c : lines)
        if (c == ' ')
            c = '\n';
    lines += '\n';
    return lines;
}

void params_to_file(const char *file, const flash_paths &paths)
{
    char text[PARAM_BLOCK_SIZE] = {};
    readbootparameters(text, PARAM_TEXT_MAX, paths);
    std::string lines = params_as_lines(text);

    int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd != -1 && write_all(fd, lines);
    if (fd != -1 && ::close(fd) != 0)
        ok = false;
    if (!ok)
        report_error(-1, "Error writing to file <%s>\n", file);
}

void params_from_file(const char *file, const flash_paths &paths)
{
    char text[PARAM_BLOCK_SIZE] = {};
    int fd = ::open(file, O_RDONLY);
    if (fd == -1)
        report_error(-1, "Error reading from file <%s>\n", file);
    std::size_t length = 0;
    while (length < PARAM_TEXT_MAX) {
        ssize_t n = ::read(fd, text + length, PARAM_TEXT_MAX - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            report_error(-1, "Error reading from file <%s>\n", file);
        }
        if (n == 0)
            break;
        length += static_cast<std::size_t>(n);
    }
    ::close(fd);

    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) == 0xFF) {
            length = i;
            break;
        }
        if (text[i] == '\n')
            text[i] = ' ';
    }
    text[length] = '\0';
    // A 0 byte in the file ends the text as well.
    length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ')
        text[--length] = '\0';
    writebootparameters(text, paths);
}

void list_params(const flash_paths &paths)
{
    char text[PARAM_BLOCK_SIZE] = {};
    readbootparameters(text, PARAM_TEXT_MAX, paths);
    std::fputs(params_as_lines(text).c_str(), stdout);
}

int flashargs_main(int argc, char **argv, const flash_paths &paths)
{
    if (argc <= 1)
        return param_editor(paths);

    bool list = false;
    int option;
    while ((option = getopt(argc, argv, "hr:w:la")) != -1) {
        switch (option) {
        case 'h':
            std::fputs(USAGE, stderr);
            return 0;
        case 'l':
            list = true;
            break;
        case 'r':
            params_to_file(optarg, paths);
            break;
        case 'w':
            params_from_file(optarg, paths);
            break;
        case 'a': {
            char device[DEVICE_PATH_SIZE] = "";
            autodetect_mtd(device, sizeof device, paths);
            break;
        }
        default:
            report_error(-1, "Illegal option, try `-h' for help");
        }
    }
    if (list)
        list_params(paths);
    return 0;
}
