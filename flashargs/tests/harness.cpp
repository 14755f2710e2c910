// Test helpers: scratch directories, program runs and pseudo-terminals.
#include "harness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Generous: waits end at their event, and a busy machine is slow.
constexpr auto TIME_LIMIT = std::chrono::seconds(60);

// Waits for `pid` until the time limit, then kills it; the exit status or -1.
int wait_for(int pid)
{
    auto deadline = std::chrono::steady_clock::now() + TIME_LIMIT;
    int status = 0;
    for (;;) {
        int done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "program did not end in time";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

void scratch_dir::SetUp()
{
    char name[] = "/tmp/flashargs-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
}

void scratch_dir::TearDown()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

void scratch_dir::write_file(const std::string &name, const std::string &content) const
{
    std::ofstream file(path(name), std::ios::binary | std::ios::trunc);
    file << content;
    ASSERT_TRUE(file.good()) << name;
}

std::string scratch_dir::read_file(const std::string &name) const
{
    std::ifstream file(path(name), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void scratch_dir::list_partition(int number, const char *name) const
{
    write_file("proc-mtd", "dev:    size   erasesize  name\n"
                           "mtd0: 00040000 00020000 \"U-Boot\"\n"
                           "mtd" + std::to_string(number) + ": 00020000 00020000 \"" +
                               name + "\"\n"
                           "mtd9: 00400000 00020000 \"rootfs\"\n");
}

void scratch_dir::erased_partition(int number) const
{
    write_file("mtdblock" + std::to_string(number), std::string(PARTITION_SIZE, '\xFF'));
}

void scratch_dir::put_block(int number, const std::string &bytes) const
{
    std::fstream file(path("mtdblock" + std::to_string(number)),
                      std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(BLOCK_OFFSET);
    file << bytes;
    ASSERT_TRUE(file.good());
}

std::string scratch_dir::block(int number) const
{
    std::string all = read_file("mtdblock" + std::to_string(number));
    if (all.size() < BLOCK_OFFSET + 2048)
        return {};
    return all.substr(BLOCK_OFFSET, 2048);
}

std::string scratch_dir::block_text(int number, bool *filled) const
{
    std::string bytes = block(number);
    std::size_t end = bytes.find('\0');
    if (end == std::string::npos)
        end = bytes.size();
    if (filled != nullptr)
        *filled = end < bytes.size() &&
                  bytes.find_first_not_of('\xFF', end + 1) == std::string::npos;
    return bytes.substr(0, end);
}

run_result scratch_dir::run(const std::vector<std::string> &args, const std::string &input,
                            const char *program) const
{
    write_file(".stdin", input);
    run_result result;
    int pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        int in = open(".stdin", O_RDONLY);
        int out = open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program));
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return result;
    }
    result.status = wait_for(pid);
    result.out = read_file(".stdout");
    result.err = read_file(".stderr");
    return result;
}

pty_session::pty_session(const std::string &dir)
{
    pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        termios settings{};
        tcgetattr(STDIN_FILENO, &settings);
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        settings.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
        tcsetattr(STDIN_FILENO, TCSANOW, &settings);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        execl(FLASHARGS_STANDIN_BIN, FLASHARGS_STANDIN_BIN, static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid < 0)
        ADD_FAILURE() << "forkpty failed";
}

pty_session::~pty_session()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (master >= 0)
        close(master);
}

void pty_session::send(const std::string &keys)
{
    ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

bool pty_session::pump(int timeout_ms)
{
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
        return false;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0)
        return false; // the program has ended (EIO) or the terminal is gone
    all.append(buffer, static_cast<std::size_t>(n));
    return true;
}

::testing::AssertionResult pty_session::expect(const std::string &text, std::string *seen)
{
    auto deadline = std::chrono::steady_clock::now() + TIME_LIMIT;
    for (;;) {
        std::size_t at = all.find(text, matched);
        if (at != std::string::npos) {
            if (seen != nullptr)
                *seen = all.substr(matched, at + text.size() - matched);
            matched = at + text.size();
            return ::testing::AssertionSuccess();
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !pump(static_cast<int>(left.count())))
            return ::testing::AssertionFailure()
                   << "no \"" << text << "\" in output \"" << all.substr(matched) << "\"";
    }
}

::testing::AssertionResult pty_session::canonical_becomes(bool on)
{
    auto deadline = std::chrono::steady_clock::now() + TIME_LIMIT;
    termios settings{};
    while (std::chrono::steady_clock::now() < deadline) {
        // On Linux the master reports the settings of the terminal side.
        if (tcgetattr(master, &settings) != 0)
            return ::testing::AssertionFailure() << "tcgetattr: " << std::strerror(errno);
        if (((settings.c_lflag & ICANON) != 0) == on)
            return ::testing::AssertionSuccess();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ::testing::AssertionFailure() << "canonical mode never became " << on;
}

int pty_session::finish()
{
    auto deadline = std::chrono::steady_clock::now() + TIME_LIMIT;
    while (std::chrono::steady_clock::now() < deadline && pump(100)) {
    }
    int status = wait_for(pid);
    pid = -1;
    while (pump(0)) {
    }
    return status;
}
