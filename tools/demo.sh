#!/usr/bin/env bash
# The receiver at work without a radio: installs what is missing, builds,
# synthesizes a recording of three NAVTEX channels with some noise, decodes
# it with skerrin at about ten times real time, and fetches the messages
# through the protocol client while the daemon runs.  The 4209 kHz channel
# is weak (1 dB SNR): the daemon's specified chain garbles it, so the same
# recording is decoded a second time with the enhanced chain (-A), which
# reads it.  Last, navwatch keeps the messages of a second recording as
# skerrin decodes it: a repeat is suppressed and a type D message raises
# the alarm; its web page (-H) shows them live.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
build="${BUILD_DIR:-$top/build}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target skerrin navsynth navclient navwatch default_settings

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

# The first of the given ports nobody listens on, so that a daemon or a
# page already running here is left alone.
free_port() {
	for p in "$@"; do
		if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
			echo "$p"
			return
		fi
	done
}
port=$(free_port 9968 19968 29968 39968)
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

echo
echo "== Keeping messages with navwatch"
watchrec="$out/watch.raw"
"$build/tools/navsynth/navsynth" -s 7 -g 2 \
	-k 0 -m "$demo/ch0-490.txt" -n 12 \
	-k 1 -m "$demo/watch-518.txt" -n 10 \
	-o "$watchrec" 2>&1 | tail -1
cp "$build/settings/tovane.conf" "$out/tovane.conf"
# navwatch's web page, on this machine only (-H port alone would serve every
# interface; changes are taken from loopback unless -W allows others).
webport=$(free_port 8080 18080 28080 38080)
[ -n "$webport" ] || { echo "no free port for the web page"; exit 1; }
rm -f "$out/navtex.db" "$out/navtex.db-wal" "$out/navtex.db-shm" "$out/messages.jsonl" "$out/alarm.log"
"$build/navwatch/navwatch" -f -S "127.0.0.1:$port" -c "$out/tovane.conf" -D "$out/navtex.db" \
	-J "$out/messages.jsonl" -i 50 -H "127.0.0.1:$webport" \
	-a "echo \"ALARM: \$NAVWATCH_ID on \$NAVWATCH_FREQ kHz\" >>'$out/alarm.log'" \
	2>"$out/navwatch.log" &
watcher=$!
trap 'kill $watcher 2>/dev/null || true' EXIT
echo "   skerrin decodes $watchrec at ten times real time; navwatch takes each message"
echo "   The web page, live while it runs: http://127.0.0.1:$webport/"
"$build/skerrin/skerrin" -f -i "$watchrec" -p "$port" -s 100 >"$out/skerrin-watch.log" 2>&1
# The last message is taken within a poll interval of being queued.
for _ in $(seq 50); do
	[ "$(wc -l <"$out/messages.jsonl" 2>/dev/null || echo 0)" -ge 5 ] && break
	sleep 0.1
done
if [ -t 0 ]; then
	echo
	echo "== The web page: http://127.0.0.1:$webport/ (alarm, messages, status, selections)"
	read -r -p "   Press Enter to stop navwatch and go on. " _
fi
kill $watcher
wait $watcher || true
trap - EXIT
echo
echo "== navwatch's log ($out/navwatch.log)"
cat "$out/navwatch.log"
echo
echo "== navwatch -D $out/navtex.db list -a  (newest first; -a shows the suppressed repeat)"
"$build/navwatch/navwatch" -D "$out/navtex.db" list -a
echo
echo "== The alarm command ran ($out/alarm.log)"
cat "$out/alarm.log"
echo
echo "== JSON lines: $out/messages.jsonl; reset the alarm with:"
echo "   $build/navwatch/navwatch -D $out/navtex.db ack"
