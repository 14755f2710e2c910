// The launcher run as a program: usage, the starting text, what the
// started program sees, and failures.
#include <gtest/gtest.h>

#include "run_program.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

const char usage_text[] = "Usage: daemon <PROGRAM> [ARGUMENT]...\n"
                          "  Equivalent to calling daemon(1,0); - see daemon(3) man-page\n";

// Runs the launcher with `args` in folder `cwd`; `in_child` runs in the
// child just before exec.  Killed after 30 seconds.
program_result run_daemon(const std::vector<std::string> &args, const std::string &cwd,
                          const std::function<void()> &in_child = {})
{
    std::vector<std::string> argv{DAEMON_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, cwd, 30, in_child);
}

std::string link_target(const std::string &path)
{
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Live processes whose working folder is `dir`.
std::vector<pid_t> processes_in(const std::string &dir)
{
    std::vector<pid_t> pids;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return pids;
    while (dirent *e = readdir(proc)) {
        char *end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        if (link_target("/proc/" + std::string(e->d_name) + "/cwd") == dir)
            pids.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return pids;
}

// Session id: field 6 of /proc/PID/stat, after the parenthesised name.
long session_of(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos)
        return -1;
    std::istringstream rest(stat.substr(close_paren + 2));
    std::string state;
    long ppid = 0, pgrp = 0, session = -1;
    rest >> state >> ppid >> pgrp >> session;
    return session;
}

// A private working folder; whatever still runs in it is ended at the end.
class LauncherFolder : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/daemon-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }

    void TearDown() override
    {
        for (pid_t pid : processes_in(dir))
            kill(pid, SIGKILL);
        wait_until([&] { return processes_in(dir).empty(); });
        DIR *d = opendir(dir.c_str());
        while (dirent *e = d ? readdir(d) : nullptr)
            if (e->d_name[0] != '.')
                unlink((dir + "/" + e->d_name).c_str());
        if (d)
            closedir(d);
        rmdir(dir.c_str());
    }

    // Polls `done` for up to a minute: generous, for a busy machine.
    static bool wait_until(const std::function<bool()> &done)
    {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    std::string dir;
};

} // namespace

TEST_F(LauncherFolder, UsageWithoutArgumentsOrWithHelpFirst)
{
    for (const auto &args : {std::vector<std::string>{}, std::vector<std::string>{"-h"},
                             std::vector<std::string>{"-h", "sleep", "100"}}) {
        program_result r = run_daemon(args, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, usage_text);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(processes_in(dir).empty());
}

TEST_F(LauncherFolder, SleepRunsDetachedInItsOwnSession)
{
    program_result r = run_daemon({"sleep", "100"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Starting: \n  sleep 100 \nin daemon-mode...\n");
    EXPECT_EQ(r.err, "");
    EXPECT_GE(r.elapsed.count(), 0.95); // gives the program a second

    std::vector<pid_t> found;
    ASSERT_TRUE(wait_until([&] {
        found = processes_in(dir);
        return !found.empty();
    })) << "no process runs in " << dir;
    ASSERT_EQ(found.size(), 1u);
    const pid_t pid = found[0];
    const std::string proc = "/proc/" + std::to_string(pid);
    EXPECT_EQ(read_file(proc + "/comm"), "sleep\n");
    EXPECT_EQ(read_file(proc + "/cmdline"), std::string("sleep\0" "100\0", 10));
    EXPECT_EQ(session_of(pid), pid) << "not the leader of its own session";
    EXPECT_NE(session_of(pid), static_cast<long>(getsid(0)));
    for (int fd = 0; fd <= 2; ++fd)
        EXPECT_EQ(link_target(proc + "/fd/" + std::to_string(fd)), "/dev/null") << "fd " << fd;

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_TRUE(wait_until([&] { return processes_in(dir).empty(); }));
}

TEST_F(LauncherFolder, ArgumentsAndFolderArePassedOn)
{
    // Only the first argument is examined: a later -h goes to the program.
    program_result r =
        run_daemon({"sh", "-c", "echo \"$0 $*\" > args.txt", "prog", "a b", "-h"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Starting: \n  sh -c echo \"$0 $*\" > args.txt prog a b -h \nin daemon-mode...\n");
    const std::string file = dir + "/args.txt";
    EXPECT_TRUE(wait_until([&] { return read_file(file) == "prog a b -h\n"; }))
        << "got \"" << read_file(file) << "\"";
}

TEST_F(LauncherFolder, MissingProgramFailsSilently)
{
    program_result r = run_daemon({"no-such-program-for-the-launcher", "x"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Starting: \n  no-such-program-for-the-launcher x \nin daemon-mode...\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(wait_until([&] { return processes_in(dir).empty(); }))
        << "something still runs in " << dir;
}

TEST_F(LauncherFolder, FailedForkIsReported)
{
#ifdef NAVTEX_UNDER_EMULATOR
    GTEST_SKIP() << "the emulator itself needs threads, which a user allowed no processes cannot start";
#endif
    // A user allowed no processes at all cannot fork; root is exempt from
    // the limit, so root runs the launcher as "nobody".
    const uid_t nobody = 65534;
    program_result r = run_daemon({"sleep", "100"}, dir, [&] {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 ||
                               setuid(nobody) != 0))
            _exit(125);
        rlimit none{0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0)
            _exit(125);
    });
    if (r.status == 125)
        GTEST_SKIP() << "cannot take away the right to create processes here";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("daemon: cannot start sleep: "), std::string::npos) << r.err;
    EXPECT_TRUE(processes_in(dir).empty());
}
