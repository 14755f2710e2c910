// daemon: starts a program detached from the terminal, as daemon(1, 0)
// would: in its own session, in the current folder, with /dev/null as its
// standard streams.
//
// Takes: PROGRAM [ARGUMENT]... (PROGRAM looked up along PATH).
// Gives: the starting text on standard output and, a second later, exit
// status 0; status 1 for the usage text or when no process could be
// created.  What becomes of the started program is not reported.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

void usage()
{
    std::fputs("Usage: daemon <PROGRAM> [ARGUMENT]...\n"
               "  Equivalent to calling daemon(1,0); - see daemon(3) man-page\n",
               stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "-h") == 0) {
        usage();
        return 1;
    }

    std::fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "daemon: cannot start %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    if (pid == 0) {
        if (daemon(1, 0) != 0)
            _exit(1);
        execvp(argv[1], argv + 1);
        // Nobody is listening any more: the streams go to /dev/null.
        _exit(0);
    }

    std::fputs("Starting: \n  ", stdout);
    for (int i = 1; i < argc; ++i)
        std::printf("%s ", argv[i]);
    std::fputs("\nin daemon-mode...\n", stdout);
    std::fflush(stdout);
    sleep(1);
    return 0;
}
