// Runs a program in a child process with captured output and a time
// limit, for tests of the command-line tools.
#ifndef NAVTEX_TESTING_RUN_PROGRAM_H
#define NAVTEX_TESTING_RUN_PROGRAM_H

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct program_result {
    int status = -1; // exit status, or -1 when killed or not run
    bool timed_out = false;
    std::string out;
    std::string err;
    std::chrono::duration<double> elapsed{}; // from start until the program ended
};

// Runs argv[0] with its arguments in folder `cwd` (the current one when
// empty); kills it after `limit_s` seconds.  `in_child` runs in the child
// just before exec (to drop privileges or set limits, say).
inline program_result run_program(const std::vector<std::string> &args, const std::string &cwd = "",
                                  int limit_s = 30, const std::function<void()> &in_child = {})
{
    program_result r;
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0)
        return r;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return r;
    }
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd >= 0)
            dup2(null_fd, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        if (in_child)
            in_child();
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return r;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_s);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&r.out, &r.err};
    int open_fds = 2;
    while (open_fds > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            r.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (pollfd &p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    r.elapsed = std::chrono::steady_clock::now() - start;
    if (!r.timed_out && WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    return r;
}

#endif
