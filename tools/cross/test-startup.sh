#!/usr/bin/env bash
# Runs the staged start-up script once, as the board would, in a scratch
# root holding the staged programs and a shell: stand-ins take the place of
# insmod, mknod and the radio device (a named pipe that never delivers).
# `S80navtex start` must load the three modules, make the device node, write
# the default settings file and start skerrin, which then answers a client,
# and navwatch, which then has made its store; `S80navtex stop` must end both.  Needs root (chroot and namespaces).
#   test-startup.sh [rootfs]          (default: out/rootfs)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
stage=$(cd "${1:-$top/out/rootfs}" && pwd)
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

root=$(mktemp -d)
trap '$sudo rm -rf "$root"' EXIT
chmod 755 "$root"
mkdir -p "$root"/{bin,sbin,usr/bin,etc/init.d,lib/modules/navtex,dev,jffs2,tmp,proc}
cp -a "$stage"/usr/bin/. "$root/usr/bin/"
cp -a "$stage/etc/init.d/S80navtex" "$root/etc/init.d/"
# Host programs the scripts need, with their libraries; and qemu with its
# own, which the kernel starts for the ARM programs inside the root.
host_program() {	# program [path in the root]
	local dst=$root${2:-$1}
	mkdir -p "$(dirname "$dst")"
	cp -L "$1" "$dst"
	{ ldd "$1" 2>/dev/null || true; } | grep -o '/[^ ]*' | while read -r lib; do
		mkdir -p "$root$(dirname "$lib")"
		cp -Ln "$lib" "$root$lib"
	done
}
host_program /usr/bin/qemu-arm
host_program "$(command -v dash)" /bin/sh
for p in killall basename sleep mkfifo; do
	host_program "$(command -v $p)" "/bin/$p"
done
$sudo mknod -m 666 "$root/dev/null" c 1 3
touch "$root"/lib/modules/navtex/{clkgendrv,rfspidrv,tpaneldrv}.ko
cat >"$root/sbin/insmod" <<'STANDIN'
#!/bin/sh
echo "insmod $*" >>/stand-ins.log
STANDIN
# The device: a pipe held open and never written, so reads wait as on
# a radio that has not delivered a buffer yet.
cat >"$root/bin/mknod" <<'STANDIN'
#!/bin/sh
echo "mknod $*" >>/stand-ins.log
mkfifo "$1"
sleep 1000000 <>"$1" >/dev/null 2>&1 &
STANDIN
cat >"$root/check.sh" <<'CHECK'
wait_for() {	# command, at most 120 s
	i=0
	until "$@" >/dev/null 2>&1; do
		i=$((i + 1)); [ $i -lt 240 ] || return 1
		sleep 0.5
	done
}
not_running() {	# program
	for c in /proc/[0-9]*/comm; do
		read -r name <"$c" && [ "$name" = "$1" ] && return 1
	done
	return 0
}
running() { ! not_running "$1"; }
/etc/init.d/S80navtex start >/start.out 2>&1 || { echo "start failed with status $?"; cat /start.out; exit 1; }
wait_for navclient -p 9968 -w 2000 status || { echo "skerrin does not answer after start"; exit 1; }
wait_for running navwatch || { echo "navwatch does not run after start"; exit 1; }
wait_for test -s /jffs2/navtex.db || { echo "navwatch made no store at the settings' db-path"; exit 1; }
/etc/init.d/S80navtex stop || { echo "stop failed with status $?"; exit 1; }
wait_for not_running skerrin || { echo "skerrin still runs after stop"; exit 1; }
wait_for not_running navwatch || { echo "navwatch still runs after stop"; exit 1; }
CHECK
chmod 755 "$root/sbin/insmod" "$root/bin/mknod"

echo "Running S80navtex start and stop in a scratch root"
# Fresh network and process namespaces: port 9968 is free, and whatever is
# left (the device stand-in, a skerrin that would not stop) ends with them.
$sudo env -u QEMU_LD_PREFIX QEMU_UNAME=2.6.25 QEMU_CPU=arm926 PATH=/sbin:/bin:/usr/sbin:/usr/bin \
	unshare --mount --net --pid --fork --mount-proc="$root/proc" \
	/bin/sh -c 'ip link set lo up && exec chroot "$1" /bin/sh /check.sh' sh "$root"

expected="insmod /lib/modules/navtex/clkgendrv.ko
insmod /lib/modules/navtex/rfspidrv.ko
insmod /lib/modules/navtex/tpaneldrv.ko
mknod /dev/myradio c 14 3"
[ "$(cat "$root/stand-ins.log")" = "$expected" ] || {
	echo "test-startup: expected the stand-ins called as"; echo "$expected"
	echo "but they were called as"; cat "$root/stand-ins.log"; exit 1
}
cmp "$stage/jffs2/tovane.conf" "$root/jffs2/tovane.conf" || {
	echo "test-startup: the settings file written at start is not the default one"; exit 1
}
echo "S80navtex: start loaded the modules, made the device, wrote the default settings and started skerrin and navwatch; stop ended them"
