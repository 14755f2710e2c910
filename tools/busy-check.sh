#!/usr/bin/env bash
# Runs the whole test suite several times in a row at ctest -j6 beside two
# busy loops, as a shared CI machine would: no test may depend on timing
# luck.  Fails on the first failing run; says how long each run took.
#   BUILD_DIR  build folder (default: build); it is built first
#   RUNS       number of runs (default: 5)
#   JOBS       ctest parallel jobs (default: 6)
# Extra arguments go to ctest (for instance -R feedmock).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$top/build}"
runs="${RUNS:-5}"
jobs="${JOBS:-6}"

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

busy=()
stop_busy() {
	for p in "${busy[@]}"; do
		kill "$p" 2>/dev/null || true
	done
	wait 2>/dev/null || true
}
trap stop_busy EXIT
for k in 1 2; do
	sh -c 'while :; do :; done' &
	busy+=($!)
done

log="$build/busy-check.log"
: >"$log"
start=$(date +%s)
for ((r = 1; r <= runs; r++)); do
	t0=$(date +%s)
	if ctest --test-dir "$build" -j "$jobs" --timeout 900 --output-on-failure "$@" >>"$log" 2>&1; then
		echo "run $r of $runs: passed in $(($(date +%s) - t0)) s"
	else
		echo "run $r of $runs: FAILED after $(($(date +%s) - t0)) s; failures:"
		grep -E '^\s*[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess)' "$log" | tail -20 || true
		echo "details in $log"
		exit 1
	fi
done
echo "all $runs runs passed beside two busy loops in $(($(date +%s) - start)) s"
