#!/usr/bin/env bash
# Lets the kernel start ARM programs through qemu-arm, so tests that spawn
# the built programs work under emulation.  Needs root (or sudo); the
# library prefix comes from QEMU_LD_PREFIX in the environment.
set -euo pipefail
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
dir=/proc/sys/fs/binfmt_misc
if [ ! -e "$dir/register" ]; then
	$sudo mount -t binfmt_misc binfmt_misc "$dir"
fi
# Flag F: the kernel opens qemu once here, so ARM programs also start in a
# scratch root (chroot) that has no qemu of its own.  An older entry without
# it is left alone; the newer entry is the one the kernel tries first.
name=qemu-arm
if [ -e "$dir/$name" ]; then
	grep -q '^flags:.*F' "$dir/$name" && exit 0
	name=qemu-arm-fixed
	[ -e "$dir/$name" ] && exit 0
fi
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":$name:M::$magic:$mask:/usr/bin/qemu-arm:F" | $sudo tee "$dir/register" >/dev/null
echo "registered $name for ARM programs"
