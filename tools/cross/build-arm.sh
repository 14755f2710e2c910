#!/usr/bin/env bash
# Builds every user-space program for the board (ARMv5, armel), runs the
# test suite under qemu user-mode emulation, links the programs again as a
# link-time optimised Release, stages the board's root
# filesystem in out/rootfs, traces the staged programs' system calls against
# Linux 2.6.25 and runs the start-up script in a scratch root.  Extra
# arguments go to ctest (e.g. -R skerrin).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)

"$top/tools/install-deps.sh" crossbuild-essential-armel qemu-user file python3 psmisc
"$top/tools/cross/make-sysroot.sh"
"$top/tools/cross/build-microhttpd.sh"
"$top/tools/cross/binfmt-arm.sh"

build="${ARM_BUILD_DIR:-$top/build-arm}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_TOOLCHAIN_FILE="$top/tools/cross/armel-toolchain.cmake"
cmake --build "$build" -j "$(nproc)"
export QEMU_LD_PREFIX=/usr/arm-linux-gnueabi
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 1800 "$@"

# The board's Release, link-time optimised: the installed programs and the
# start-up probe linked again, so that code the optimiser cannot see being
# used (board_start's call into board_add_random) fails here as a link.
release="${ARM_RELEASE_BUILD_DIR:-$top/build-arm-release}"
cmake -S "$top" -B "$release" -DCMAKE_BUILD_TYPE=Release -DNAVTEX_BENCHMARKS=OFF \
	-DCMAKE_TOOLCHAIN_FILE="$top/tools/cross/armel-toolchain.cmake" | tee "$top/out/release-configure.log"
grep -q "Link-time optimisation: on" "$top/out/release-configure.log" ||
	{ echo "the board's Release build has no link-time optimisation"; exit 1; }
cmake --build "$release" -j "$(nproc)" --target navtex_programs board_old_auxv_probe
ctest --test-dir "$release" --output-on-failure -R '^BoardStart\.'

# The board's programs carry their own libraries (they are linked
# statically) and are staged stripped; the unstripped ones, for debugging,
# go to out/rootfs-unstripped.
stage="$top/out/rootfs"
unstripped="$top/out/rootfs-unstripped"
rm -rf "$stage" "$unstripped"
DESTDIR="$unstripped" cmake --install "$build" --prefix / >/dev/null
DESTDIR="$stage" cmake --install "$build" --prefix / --strip >/dev/null
echo "Board root filesystem staged in $stage:"
(cd "$stage" && find . -type f | sort | sed 's/^\./  /')
echo "Programs (bytes staged, unstripped):"
for prog in "$stage"/usr/bin/*; do
	kind=$(file -b "$prog")
	case "$kind" in
	*"ARM, EABI5"*"statically linked"*) ;;
	*) echo "not a statically linked ARM EABI program: $prog ($kind)"; exit 1 ;;
	esac
	# The entry that supplies AT_RANDOM where Linux 2.6.25 gives none.
	entry=$(arm-linux-gnueabi-readelf -h "$prog" | awk '/Entry point/ { print $NF }')
	start=$(arm-linux-gnueabi-nm "$unstripped/usr/bin/$(basename "$prog")" | awk '$3 == "board_start" { print "0x" $1 }')
	[ -n "$start" ] && [ $((entry)) -eq $((start)) ] || { echo "$prog does not start at board_start"; exit 1; }
	printf '  %-10s %8d %8d\n' "$(basename "$prog")" "$(stat -c %s "$prog")" \
		"$(stat -c %s "$unstripped/usr/bin/$(basename "$prog")")"
done

# What the board's kernel will be asked for, and the start-up script.
# (Both run, so that one failing does not hide the other.)
rc=0
"$top/tools/cross/syscalls.sh" "$stage" || rc=1
"$top/tools/cross/test-startup.sh" "$stage" || rc=1
exit $rc
