#!/usr/bin/env bash
# Builds every user-space program for the board (ARMv5, armel), runs the
# test suite under qemu user-mode emulation and stages the board's root
# filesystem in out/rootfs.  Extra arguments go to ctest (e.g. -R skerrin).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)

"$top/tools/install-deps.sh" crossbuild-essential-armel qemu-user file
"$top/tools/cross/make-sysroot.sh"
"$top/tools/cross/binfmt-arm.sh"

build="${ARM_BUILD_DIR:-$top/build-arm}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_TOOLCHAIN_FILE="$top/tools/cross/armel-toolchain.cmake"
cmake --build "$build" -j "$(nproc)"
export QEMU_LD_PREFIX=/usr/arm-linux-gnueabi
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 1800 "$@"

stage="$top/out/rootfs"
rm -rf "$stage"
DESTDIR="$stage" cmake --install "$build" --prefix / >/dev/null
echo "Board root filesystem staged in $stage:"
(cd "$stage" && find . -type f | sort | sed 's/^\./  /')
for prog in "$stage"/usr/bin/*; do
	file -b "$prog" | grep -q 'ARM, EABI5' || { echo "not an ARM EABI program: $prog"; exit 1; }
done
