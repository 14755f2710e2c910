#!/usr/bin/env bash
# The receiver at work without a radio: installs what is missing, builds,
# synthesizes a recording of three NAVTEX channels with some noise, decodes
# it with skerrin at about ten times real time, and fetches the messages
# through the protocol client while the daemon runs.  The 4209 kHz channel
# is weak (1 dB SNR): the daemon's specified chain garbles it, so the same
# recording is decoded a second time with the enhanced chain (-A), which
# reads it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
build="${BUILD_DIR:-$top/build}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target skerrin navsynth navclient

out="$top/out/demo"
mkdir -p "$out"
rec="$out/three-channels.raw"
demo="$top/tools/demo"
echo
echo "== Synthesizing $rec"
"$build/tools/navsynth/navsynth" -s 7 -g 2 \
	-k 0 -m "$demo/ch0-490.txt" -n 12 \
	-k 1 -m "$demo/ch1-518.txt" -n 10 -f 15 \
	-k 2 -m "$demo/ch2-4209.txt" -n 1 -b 100 \
	-o "$rec"

# A free port, so a daemon already running here is left alone.
port=""
for p in 9968 19968 29968 39968; do
	if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
		port=$p
		break
	fi
done
[ -n "$port" ] || { echo "no free port for the demo"; exit 1; }

# Decodes the recording with skerrin (extra options in $1) while the
# client fetches $2 messages; $3 names the log.
decode() {
	echo
	echo "== Decoding with skerrin $1 on port $port (log: $out/$3)"
	# shellcheck disable=SC2086
	"$build/skerrin/skerrin" -f $1 -i "$rec" -p "$port" -s 100 >"$out/$3" 2>&1 &
	daemon=$!
	trap 'kill $daemon 2>/dev/null || true' EXIT
	sleep 1
	echo
	echo "== Channel status"
	"$build/tools/navclient/navclient" -p "$port" status
	echo
	echo "== Messages, fetched while the daemon decodes"
	"$build/tools/navclient/navclient" -p "$port" -T 60 -i 200 poll "$2"
	wait $daemon
	trap - EXIT
	echo
	echo "== What skerrin printed when the recording ended"
	sed -n '/^Messages waiting/,$p' "$out/$3"
}

decode "" 3 skerrin.log
decode "-A" 4 skerrin-A.log
echo
echo "== The weak 4209 kHz channel: the specified chain found nothing to queue there;"
echo "   with -A (soft decisions, DX and RX combined) its message came through above."
