#!/usr/bin/env bash
# Runs every staged program under qemu-arm as on the board (kernel release
# 2.6.25, an ARM926 processor) through the work it does in the tests, logs
# the system calls it makes, and fails on any call that Linux 2.6.25 does not
# have on ARM EABI unless syscalls-2.6.25.py lists it as looked at (the C
# library or our code falls back when the kernel answers ENOSYS).  Needs root for the
# private network and process namespaces the programs run in.
#   syscalls.sh [rootfs]          (default: out/rootfs)
# The logs stay in out/syscalls/ for reading.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
root=$(cd "${1:-$top/out/rootfs}" && pwd)
logs="$top/out/syscalls"
header=/usr/arm-linux-gnueabi/include/asm/unistd-eabi.h
[ -f "$header" ] || { echo "syscalls: $header missing (linux-libc-dev-armel-cross)"; exit 1; }

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo rm -rf "$logs"
mkdir -p "$logs/work"

# The work, run inside fresh network and process namespaces (so the fixed
# port 9968 is free and nothing outlives it) with binfmt_misc starting the
# ARM programs, so that programs started by programs are traced as well.
cat >"$logs/work.sh" <<'EOF'
set -eu
bin=$1/usr/bin
top=$2
logs=$3
cd "$logs/work"
ip link set lo up
# Each program's calls go to trace.<program>.<pid>.
t() { local name=$1; shift; QEMU_LOG_FILENAME="$logs/trace.$name.%d" "$@"; }
wait_port() {	# until a client gets an answer, at most 120 s
	local i=0
	until t navclient "$bin/navclient" -p 9968 -w 2000 status >/dev/null 2>&1; do
		i=$((i + 1)); [ $i -lt 240 ] || { echo "no server on port 9968"; return 1; }
		sleep 0.5
	done
}
gone() {	# until no process of that name is left, at most 120 s
	local i=0
	while grep -qx "$1" /proc/[0-9]*/comm 2>/dev/null; do
		i=$((i + 1)); [ $i -lt 240 ] || { echo "$1 still running"; return 1; }
		sleep 0.5
	done
}
# Every staged program starts and shows its usage (a status of 128 and up
# would be a signal: a crash before or in main).
for p in "$bin"/*; do
	rc=0
	case "$(basename "$p")" in
	confwrite) continue ;;	# takes no options: runs below
	daemon) t daemon "$p" >/dev/null 2>&1 || rc=$? ;;
	*) t "$(basename "$p")" "$p" -h >/dev/null 2>&1 || rc=$? ;;
	esac
	[ $rc -lt 128 ] || { echo "$(basename "$p") does not start: status $rc"; exit 1; }
done
echo "== every program starts"
echo "== navsynth writes a recording"
t navsynth "$bin/navsynth" -s 7 -g 2 -k 1 -m "$top/tools/demo/ch1-518.txt" -o rec.raw
echo "== skerrin decodes it and serves a client"
env QEMU_LOG_FILENAME="$logs/trace.skerrin.%d" \
	"$bin/skerrin" -f -i rec.raw -s 100 -C copy.raw >skerrin.log 2>&1 &
sk=$!
wait_port
t navclient "$bin/navclient" -p 9968 -T 120 -i 200 poll 1
wait $sk
echo "== navwatch keeps skerrin's messages, detached, then lists them"
cp "$1/jffs2/tovane.conf" watch.conf	# the default settings
env QEMU_LOG_FILENAME="$logs/trace.skerrin.%d" \
	"$bin/skerrin" -f -i rec.raw -s 100 >skerrin-watch.log 2>&1 &
sk=$!
t navwatch "$bin/navwatch" -c watch.conf -D watch.db -J watch.jsonl -a 'echo $NAVWATCH_ID >>alarm.txt'
i=0
until [ -s watch.jsonl ]; do
	i=$((i + 1)); [ $i -lt 240 ] || { echo "navwatch took no message"; exit 1; }
	sleep 0.5
done
wait $sk
killall navwatch
gone navwatch
t navwatch "$bin/navwatch" -D watch.db list -a
t navwatch "$bin/navwatch" -D watch.db ack
echo "== skerrin detached, to the end of the recording"
t skerrin "$bin/skerrin" -i rec.raw >/dev/null 2>&1
gone skerrin
echo "== filefeed with a client"
printf 'ZCZC AB01\nTEST MESSAGE\nNNNN\n' >navtexMsg.txt
env QEMU_LOG_FILENAME="$logs/trace.filefeed.%d" "$bin/filefeed" -i 0 >filefeed.log 2>&1 &
ff=$!
wait_port
for i in 1 2 3; do t navclient "$bin/navclient" -p 9968 status >/dev/null; done
t navclient "$bin/navclient" -p 9968 getmsg	# after three status requests
kill $ff
wait $ff || true
echo "== navwatch keeps filefeed's messages and serves its web page"
printf '518\nZCZC ED01\nMAYDAY\nNNNN\n' >navtexMsg.txt
env QEMU_LOG_FILENAME="$logs/trace.filefeed.%d" "$bin/filefeed" -i 0 >filefeed-web.log 2>&1 &
ff=$!
wait_port
env QEMU_LOG_FILENAME="$logs/trace.navwatch.%d" \
	"$bin/navwatch" -f -D navwatch.db -c navwatch.conf -H 127.0.0.1:8080 >navwatch.log 2>&1 &
nw=$!
http() {	# method path [JSON body]: the reply, read to its end
	exec 4<>/dev/tcp/127.0.0.1/8080 || return 1
	if [ $# -gt 2 ]; then
		printf '%s %s HTTP/1.0\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n%s' \
			"$1" "$2" ${#3} "$3" >&4
	else
		printf '%s %s HTTP/1.0\r\n\r\n' "$1" "$2" >&4
	fi
	cat <&4
	exec 4<&-
}
i=0
until http GET /api/messages 2>/dev/null | grep -q ED01; do
	i=$((i + 1)); [ $i -lt 240 ] || { echo "navwatch's page lists no message"; exit 1; }
	sleep 0.5
done
http GET / | grep -q '^HTTP/1.[01] 200' || { echo "navwatch's page not served"; exit 1; }
http POST /api/ack '{}' | grep -q '^HTTP/1.[01] 200' || { echo "navwatch: no acknowledge"; exit 1; }
http PUT /api/selections '{"freq":490,"stations":"AB"}' | grep -q '^HTTP/1.[01] 200' ||
	{ echo "navwatch: selections not saved"; exit 1; }
kill $nw
wait $nw || true
kill $ff
wait $ff || true
echo "== feedmock, started by daemon, with a client"
t feedmock "$bin/daemon" "$bin/feedmock" -S -s AB -t XY -i 1 -l 1
wait_port
# feedmock queues messages for the clients connected when it invents them,
# and answers GETMSG only when one is queued: stay connected and ask.
exec 3<>/dev/tcp/127.0.0.1/9968
i=0
until printf 'GETMSG\n' >&3 && read -r -t 0.5 line <&3 && [ "$line" = "GETMSG:" ]; do
	i=$((i + 1)); [ $i -lt 240 ] || { echo "no message from feedmock"; exit 1; }
done
echo "feedmock sent a message"
exec 3<&-
echo "== flashargs, confwrite and logowrite on stand-in files"
mkdir -p prefix/proc prefix/dev prefix/jffs2
printf 'dev:    size   erasesize  name\nmtd3: 00020000 00020000 "params"\n' >prefix/proc/mtd
head -c 131072 /dev/zero | tr '\0' '\377' >prefix/dev/mtdblock3
: >prefix/jffs2/tovane.conf
truncate -s $((0x23F80000 + 1048576)) prefix/dev/mem
export QEMU_LD_PREFIX=$PWD/prefix	# qemu opens these in place of the real ones
t flashargs "$bin/flashargs" -l
t flashargs "$bin/flashargs" -r params.txt
t flashargs "$bin/flashargs" -w params.txt
printf 'q\n' | t flashargs "$bin/flashargs" >/dev/null 2>&1 || true
t confwrite "$bin/confwrite"
grep -q '^\[' prefix/jffs2/tovane.conf || { echo "confwrite wrote nothing"; exit 1; }
t logowrite "$bin/logowrite" -s USB-OK
echo "== done"
EOF

echo "Tracing the staged programs' system calls (logs in $logs)"
$sudo env -u QEMU_LD_PREFIX QEMU_STRACE=1 QEMU_UNAME=2.6.25 QEMU_CPU=arm926 \
	unshare --net --pid --fork --mount-proc \
	bash "$logs/work.sh" "$root" "$top" "$logs" >"$logs/work.log" 2>&1 || {
	cat "$logs/work.log"
	echo "syscalls: the traced work failed"
	exit 1
}
# Calls the log cannot show: the ARM-private ones (set_tls and the like, all
# older than 2.6.25) and the kernel's helper routines at 0xffff0fxx.  Those
# for 32-bit atomics and the thread pointer are from 2.6.12 to 2.6.15; the
# 64-bit compare-and-swap (3.1) would come with libgcc's check below.
if grep -l 'A newer kernel is required' "$root"/usr/bin/*; then
	echo "syscalls: these programs need the 64-bit atomic helper of Linux 3.1"
	exit 1
fi
# A program that refuses the kernel outright ends with a signal, which the
# work above already fails on.  Timed waits on the real-time clock need
# FUTEX_CLOCK_REALTIME (2.6.28; glibc takes its ENOSYS for a fatal error),
# and qemu does not print futex_time64's arguments: look in the programs'
# sources for the calls that make such waits.
realtime_waits='pthread_cond_timedwait|pthread_mutex_timedlock|sem_timedwait|pthread_rwlock_timed(rd|wr)lock'\
'|pthread_timedjoin_np|mq_timed(send|receive)|system_clock.*_until|_until.*system_clock'
if (cd "$top" && grep -rnE --include='*.c' --include='*.cpp' --include='*.h' "$realtime_waits" . |
	grep -vE '^\./(build[^/]*|out|fuzz|drivers/kernel)/|/(tests|bench)/'); then
	echo "syscalls: timed waits on the real-time clock fail on Linux 2.6.25: use the monotonic clock"
	exit 1
fi

python3 "$top/tools/cross/syscalls-2.6.25.py" "$header" "$logs"
