#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers on) in build-fuzz and runs each one for a short fixed time on
# its seed corpus in fuzz/corpus/<target>.  Fails on any finding; the
# input that caused it is left in build-fuzz/artifacts.
#   FUZZ_SECONDS  run time per target (default 20)
#   FUZZ_TARGETS  space-separated subset of targets (default: all)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"

# libFuzzer ships with clang's runtime libraries on Debian.
need=()
command -v clang >/dev/null 2>&1 || need+=(clang)
command -v clang++ >/dev/null 2>&1 || need+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed" ||
	ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
	need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
	sudo=""
	[ "$(id -u)" -ne 0 ] && sudo="sudo"
	$sudo apt-get update -qq
	DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi

build="${FUZZ_BUILD_DIR:-$top/build-fuzz}"
seconds="${FUZZ_SECONDS:-20}"
jobs=$(nproc)
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DNAVTEX_FUZZ=ON -DNAVTEX_ASAN=ON -DNAVTEX_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_targets

targets="${FUZZ_TARGETS:-$(cd "$top/fuzz/corpus" && ls)}"
mkdir -p "$build/artifacts"
failed=()
for t in $targets; do
	bin="$build/fuzz/fuzz_$t"
	if [ ! -x "$bin" ]; then
		echo "== fuzz_$t: not built (its library is missing), skipped"
		continue
	fi
	# New inputs go to a scratch corpus; the committed seeds stay as they are.
	work="$build/corpus-run/$t"
	mkdir -p "$work"
	echo "== fuzz_$t: ${seconds}s"
	# -close_fd_mask=3: the programs' own output is dropped, libFuzzer's and the
	# sanitizers' reports stay.
	if ! "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
		-print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
		"$work" "$top/fuzz/corpus/$t" >"$build/artifacts/$t.log" 2>&1; then
		failed+=("$t")
		tail -n 60 "$build/artifacts/$t.log"
	else
		grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|DONE" \
			"$build/artifacts/$t.log" | tr '\n' ' '
		echo
	fi
done
if [ ${#failed[@]} -gt 0 ]; then
	echo "fuzz targets with findings: ${failed[*]}" >&2
	exit 1
fi
echo "all fuzz targets ran clean"
