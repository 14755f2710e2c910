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
if [ -e "$dir/qemu-arm" ]; then
	exit 0
fi
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-arm:M::$magic:$mask:/usr/bin/qemu-arm:" | $sudo tee "$dir/register" >/dev/null
echo "registered qemu-arm for ARM programs"
