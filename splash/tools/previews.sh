#!/usr/bin/env bash
# Writes a PNG preview beside each splash image's XPM source (to look at
# them without the board), converted by ImageMagick: 8-bit grey, without
# the time and text chunks, so the same XPM always gives the same file.
#   splash/tools/previews.sh [folder]     (default: splash/images)
# After changing the artwork: splashgen splash/images && splash/tools/previews.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
dir="${1:-$top/splash/images}"
if ! command -v convert >/dev/null 2>&1; then
	"$top/tools/install-deps.sh" imagemagick
fi
shopt -s nullglob
xpms=("$dir"/*.xpm)
if [ ${#xpms[@]} -eq 0 ]; then
	echo "previews.sh: no XPM files in $dir" >&2
	exit 1
fi
for xpm in "${xpms[@]}"; do
	png="${xpm%.xpm}.png"
	convert "$xpm" -strip -colorspace Gray -define png:color-type=0 -define png:bit-depth=8 \
		-define png:exclude-chunks=date,time,text "png:$png.tmp"
	mv "$png.tmp" "$png"
	echo "$png"
done
