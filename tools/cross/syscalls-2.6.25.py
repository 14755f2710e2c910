#!/usr/bin/env python3
"""Compares the system calls in qemu's logs (trace.<program>.<pid>) with
the ARM EABI system calls of Linux 2.6.25, the board's kernel.  Fails on a
later call unless it is listed in FALLBACK with what happens when the
board's kernel answers ENOSYS (or EINVAL, for flags it does not know).
    syscalls-2.6.25.py <asm/unistd-eabi.h> <log folder>
"""
import glob
import re
import sys

# ARM numbers its calls in the order they were added.  The last one added
# in 2.6.25 is timerfd_gettime, 354; 2.6.27 went on with 355, signalfd4.  So
# every call that the cross kernel headers number 0 to 354 is in 2.6.25 and
# none above it is.  The ARM-private calls (0xf0001 to 0xf0005: breakpoint,
# cacheflush, usr26, usr32, set_tls) are all older.
LAST_2_6_25 = 354
# Numbered below that but not working on ARM in 2.6.25: these three restore
# the caller's signal mask after the wait, which needs the kernel's deferred
# signal-mask restore (TIF_RESTORE_SIGMASK); ARM is recalled to have gained
# it only around 2.6.32, and until then they answer ENOSYS.  The programs
# wait with poll; glibc's select() is built on pselect6, so a select(),
# pselect() or ppoll() brought in later fails this check.
ABSENT_ON_ARM = {"pselect6", "ppoll", "epoll_pwait"}
ARM_PRIVATE = {0xF0000 + n: name for n, name in
               enumerate(["", "breakpoint", "cacheflush", "usr26", "usr32", "set_tls"]) if n}
# Flags that 2.6.25 refuses although it has the call: socket types with
# SOCK_CLOEXEC or SOCK_NONBLOCK (2.6.27) fail with EINVAL.  (Timed futex
# waits on the real-time clock, FUTEX_CLOCK_REALTIME, 2.6.28, cannot be seen
# here: glibc makes them through futex_time64, whose arguments qemu does not
# print; syscalls.sh looks for them in the sources instead.)
NEW_FLAGS = re.compile(r"\b(socket|socketpair)\([^)]*(SOCK_CLOEXEC|SOCK_NONBLOCK)")

# Later calls the programs make, each looked at.  Keyed by (program, call);
# program "*" stands for every program.
FALLBACK = {
    ("*", "clock_gettime64"): "glibc 2.36 clock_gettime falls back to clock_gettime (263)",
    ("*", "statx"): "glibc 2.36 fstat/fstatat fall back to fstat64/fstatat64",
    ("*", "getrandom"): "glibc 2.36 malloc takes its tcache key from the clock instead",
    ("*", "rseq"): "glibc 2.36 thread start-up: no restartable sequences, nothing else changes",
    ("*", "futex_time64"): "GLib 2.74's mutexes and glibc 2.36's waits fall back to futex (240)",
    ("navclient", "socket+SOCK_CLOEXEC"): "common/client.cpp: on EINVAL a plain socket, then FD_CLOEXEC",
    ("navwatch", "socket+SOCK_CLOEXEC"): "common/client.cpp and libmicrohttpd's listening socket:"
                                         " on EINVAL a plain socket, then FD_CLOEXEC",
    ("navwatch", "futex+FUTEX_CLOCK_REALTIME"): "glibc's pthread_join at the web page's stop; navwatch"
                                                " asks the kernel first and, on ENOSYS, does not join",
}


def main():
    header, logdir = sys.argv[1], sys.argv[2]
    number = {}
    for line in open(header):
        m = re.match(r"#define __NR_(\w+) \(__NR_SYSCALL_BASE \+ (\d+)\)", line)
        if m:
            number[m.group(1)] = int(m.group(2))
    name_of = {v: k for k, v in number.items()}

    traces = glob.glob(logdir + "/trace.*.*")
    seen = set()
    for path in traces:
        prog = path.rsplit("/", 1)[1].split(".")[1]
        for line in open(path, errors="replace"):
            # "<pid> name(args) = result"; lines of two threads may run together.
            for m in re.finditer(r"(?:^|\s|\))\d+ (?:Unknown syscall (\d+)|([a-z_][a-z0-9_]*)\()", line):
                if m.group(1):
                    n = int(m.group(1))
                    seen.add((prog, name_of.get(n, ARM_PRIVATE.get(n, n))))
                else:
                    seen.add((prog, m.group(2)))
            for m in NEW_FLAGS.finditer(line):
                seen.add((prog, f"{m.group(1)}+{m.group(2)}"))
    if not traces:
        sys.exit("syscalls: no traces in " + logdir)

    def fallback(prog, call):
        return FALLBACK.get((prog, call)) or FALLBACK.get(("*", call))

    later, bad = {}, []
    for prog, call in sorted(seen, key=str):
        if isinstance(call, int):
            bad.append(f"{prog}: call number {call} is not in the ARM EABI table")
            continue
        if call in ARM_PRIVATE.values():
            continue
        flag = "+" in call
        if not flag and call not in number:
            bad.append(f"{prog}: {call} is not an ARM EABI call")
        elif flag or number[call] > LAST_2_6_25 or call in ABSENT_ON_ARM:
            if fallback(prog, call):
                later.setdefault((call, fallback(prog, call)), []).append(prog)
            else:
                what = call if flag else f"{call} ({number[call]})"
                when = "does not work on ARM in 2.6.25" if call in ABSENT_ON_ARM else "is newer than 2.6.25"
                bad.append(f"{prog}: {what} {when} and nothing shows a fallback")

    print(f"syscalls: {len({c for _, c in seen})} different calls in {len(traces)} processes")
    print("syscalls: newer than 2.6.25, with what happens on the board's kernel:")
    for (call, why), progs in sorted(later.items()):
        n = f" ({number[call]})" if call in number else ""
        print(f"  {call}{n}: {why} [{', '.join(sorted(progs))}]")
    if not later:
        print("  none")
    for b in bad:
        print("syscalls:", b)
    if bad:
        print("syscalls: give each call above a fallback (and list it here) or avoid it")
        sys.exit(1)


if __name__ == "__main__":
    main()
