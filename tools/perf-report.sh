#!/usr/bin/env bash
# Regenerates the performance and sensitivity figures under docs/perf:
# a Release build (link-time optimised, as shipped), the benchmark suite,
# callgrind instructions per channel-sample of the acquisition loop, the
# sensitivity sweep with its charts (drawn by gnuplot), the watch mode's
# streams, and the machine's description.  Takes a few minutes.
#   tools/perf-report.sh [seeds]      (default 20 seeds per sweep point)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh" valgrind gnuplot-nox
build="${BUILD_DIR:-$top/build-perf-report}"
out="$top/docs/perf"
seeds="${1:-20}"
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# -g only adds line tables for the profile; the code is that of Release.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g" >/dev/null
cmake --build "$build" -j "$jobs" --target skerrin skerrin_bench navsynth sensitivity

{
	echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
	echo "nproc: $(nproc)"
	lscpu | grep -E '^(Model name|Architecture|CPU\(s\)|Thread|Core|Socket|L1d|L2|L3)' || true
	echo "compiler: $(${CXX:-c++} --version | head -1)"
	echo "commit: $(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)"
	if grep -q -- -flto "$build/skerrin/CMakeFiles/skerrin.dir/flags.make" 2>/dev/null; then
		echo "link-time optimisation: on"
	else
		echo "link-time optimisation: off"
	fi
} >"$out/machine.txt"

# Benchmarks, pinned to one core when taskset is there.
pin=()
command -v taskset >/dev/null && pin=(taskset -c 0)
"${pin[@]}" "$build/skerrin/bench/skerrin_bench" --benchmark_repetitions=3 \
	--benchmark_report_aggregates_only=true | tee "$out/benchmarks.txt"

# Instructions per channel-sample: the acquisition loop alone, on three
# channels of synthesized traffic (noise, phasing, messages).
rec="$scratch/three.raw"
"$build/tools/navsynth/navsynth" -o "$rec" -s 5 \
	-k 0 -m "$top/tools/demo/ch0-490.txt" -n 6 -f 12 -b 150 \
	-k 1 -m "$top/tools/demo/ch1-518.txt" -n 10 -f -20 \
	-k 2 -m "$top/tools/demo/ch2-4209.txt" -n 3 -F 0.5 2>/dev/null
frames=$(( $(stat -c %s "$rec") / 12 ))
# Both chains: the specified one, then the enhanced one (-A); the second
# also on noise alone, where it spends the most (listening for phasing).
noise="$scratch/noise.raw"
"$build/tools/navsynth/navsynth" -o "$noise" -s 3 -g 40 -k 0 -t "" 2>/dev/null
noise_frames=$(( $(stat -c %s "$noise") / 12 ))
# Link-time optimisation folds the acquisition loop into the daemon's main
# function; then that is counted, start-up and the final listing with it
# (about 0.1 % of the instructions).
collect='decode_i_q_sig(skerrin_all*)'
nm -C "$build/skerrin/skerrin" | grep -q ' decode_i_q_sig(skerrin_all\*)$' ||
	collect='skerrin_main(int, char**)'
count() { # recording, frames, options...
	local r=$1 n=$2
	shift 2
	valgrind --tool=callgrind --callgrind-out-file="$scratch/cg.out" --toggle-collect="$collect" \
		"$build/skerrin/skerrin" -f -p 0 "$@" -i "$r" >/dev/null 2>"$scratch/cg.log"
	ir=$(callgrind_annotate "$scratch/cg.out" | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
	if [ -z "$ir" ] || [ "$ir" -eq 0 ]; then
		echo "perf-report: callgrind counted nothing in $collect" >&2
		exit 1
	fi
	echo "instructions in $collect: $ir"
	awk -v ir="$ir" -v n="$(( n * 3 ))" 'BEGIN { printf "instructions per channel-sample: %.1f\n", ir / n }'
}
{
	echo "recording: $frames frames, 3 channels ($(( frames * 3 )) channel-samples)"
	echo "== specified chain"
	count "$rec" "$frames"
	callgrind_annotate --auto=no "$scratch/cg.out" | sed -n '/^Ir/,$p' | sed -n '1,25p'
	echo "== enhanced chain (-A)"
	count "$rec" "$frames" -A
	callgrind_annotate --auto=no "$scratch/cg.out" | sed -n '/^Ir/,$p' | sed -n '1,25p'
	echo "== noise alone ($noise_frames frames), specified chain"
	count "$noise" "$noise_frames"
	echo "== noise alone, enhanced chain (-A)"
	count "$noise" "$noise_frames" -A
} | tee "$out/callgrind.txt"

# Peak memory of a whole daemon run on a ten-minute recording.
long="$scratch/long.raw"
for i in 1 2 3 4 5 6 7 8; do cat "$top/tools/demo/ch1-518.txt"; done >"$scratch/many.txt"
"$build/tools/navsynth/navsynth" -o "$long" -s 9 \
	-k 0 -m "$top/tools/demo/ch0-490.txt" -n 8 \
	-k 1 -m "$scratch/many.txt" -n 8 \
	-k 2 -m "$top/tools/demo/ch2-4209.txt" -n 8 2>/dev/null
long_frames=$(( $(stat -c %s "$long") / 12 ))
if [ -x /usr/bin/time ]; then
	/usr/bin/time -f '%M' -o "$scratch/rss" "$build/skerrin/skerrin" -f -p 0 -i "$long" >/dev/null 2>&1
	echo "peak resident memory of skerrin on $long_frames frames: $(cat "$scratch/rss") kB" |
		tee -a "$out/callgrind.txt"
fi

# Sensitivity sweep and charts; charts no longer drawn do not linger.
rm -f "$out"/cer_vs_snr*.png "$out"/messages_vs_snr.png "$out"/impairment_*.png
"$build/tools/sensitivity/sensitivity" -n "$seeds" -o "$out/sensitivity.csv" -d "$out" | tee "$out/sensitivity.md"
# Watch mode: hour-long three-channel streams of consecutive transmissions
# (five seeds), two transmissions a second apart, a recording joined
# mid-message; both chains.  About two minutes.
"$build/tools/sensitivity/sensitivity" -w all -n 5 -o "$out/watch.csv" | tee "$out/watch.md"
echo "perf-report: figures in $out"
