#!/usr/bin/env bash
# Sanitizer builds:
#  - build-asan: the whole project with AddressSanitizer and
#    UndefinedBehaviorSanitizer, every test run;
#  - build-tsan: the two-thread decoder daemon, the threaded simulator and
#    navwatch's web page (its server threads) with ThreadSanitizer, their
#    tests run.
# Extra arguments go to ctest of the ASan build.
#   SANITIZE_ONLY=asan|tsan   run one half only
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
jobs=$(nproc)
only="${SANITIZE_ONLY:-}"

# Leaks are errors; GLib's slice allocator would hide them.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
export G_SLICE=always-malloc

if [ "$only" != tsan ]; then
	asan="${ASAN_BUILD_DIR:-$top/build-asan}"
	cmake -S "$top" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNAVTEX_ASAN=ON \
		-DNAVTEX_BENCHMARKS=OFF >/dev/null
	cmake --build "$asan" -j "$jobs"
	ctest --test-dir "$asan" --output-on-failure -j "$jobs" --timeout 1200 "$@"
fi

if [ "$only" != asan ]; then
	tsan="${TSAN_BUILD_DIR:-$top/build-tsan}"
	cmake -S "$top" -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNAVTEX_TSAN=ON \
		-DNAVTEX_BENCHMARKS=OFF >/dev/null
	# The test programs of the threaded servers that exist in this tree.
	available=$(cmake --build "$tsan" --target help | sed -n 's/^\.\.\. \([A-Za-z0-9_]*\).*/\1/p')
	wanted=()
	for t in $available; do
		case "$t" in
		skerrin_tests | skerrin_*_tests | feedmock_tests | feedmock_*_tests | navwatch_web_tests)
			wanted+=("$t") ;;
		esac
	done
	if [ ${#wanted[@]} -eq 0 ]; then
		echo "ThreadSanitizer: no daemon or simulator tests in this tree"
	else
		cmake --build "$tsan" -j "$jobs" --target "${wanted[@]}"
		for t in "${wanted[@]}"; do
			bin=$(find "$tsan" -type f -name "$t" -perm -u+x | head -n 1)
			echo "== ThreadSanitizer: $t"
			# Bounded: a hang is a failure, not a stuck CI job.
			timeout 1800 "$bin" --gtest_brief=1
		done
	fi
fi
echo "sanitizer builds passed"
