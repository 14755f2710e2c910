#!/usr/bin/env bash
# The receiver at work without a radio: installs what is missing, builds,
# synthesizes a recording of three NAVTEX channels with some noise, decodes
# it with skerrin at about ten times real time, and fetches the messages
# through the protocol client while the daemon runs.
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
	-k 2 -m "$demo/ch2-4209.txt" -n 12 -b 100 \
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

echo
echo "== Decoding with skerrin on port $port (log: $out/skerrin.log)"
"$build/skerrin/skerrin" -f -i "$rec" -p "$port" -s 100 >"$out/skerrin.log" 2>&1 &
daemon=$!
trap 'kill $daemon 2>/dev/null || true' EXIT
sleep 1
echo
echo "== Channel status"
"$build/tools/navclient/navclient" -p "$port" status
echo
echo "== Messages, fetched while the daemon decodes"
"$build/tools/navclient/navclient" -p "$port" -T 60 -i 200 poll 4
wait $daemon
trap - EXIT
echo
echo "== What skerrin printed when the recording ended"
sed -n '/^Messages waiting/,$p' "$out/skerrin.log"
