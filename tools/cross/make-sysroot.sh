#!/usr/bin/env bash
# Unpacks the armel packages of GLib, SQLite, GoogleTest and Google
# Benchmark (with their dependencies) into a sysroot for the cross build.  Usage:
#   make-sysroot.sh [sysroot-dir]     (default: out/armel-sysroot)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
root="${1:-$top/out/armel-sysroot}"
pkgs=(libglib2.0-0 libglib2.0-dev libpcre2-8-0 libpcre2-16-0 libpcre2-32-0
      libpcre2-posix3 libpcre2-dev libffi8 libffi-dev zlib1g zlib1g-dev libmount1
      libmount-dev libblkid1 libblkid-dev libselinux1 libselinux1-dev libsepol2
      libsepol-dev libgtest-dev libgmock-dev libbenchmark-dev libbenchmark1debian
      libsqlite3-0 libsqlite3-dev)

# A sysroot made before SQLite was needed is made again.
if [ -f "$root/.complete" ] && [ -f "$root/usr/include/sqlite3.h" ]; then
	echo "armel sysroot already in $root"
	exit 0
fi
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx armel; then
	$sudo dpkg --add-architecture armel
	$sudo apt-get update -qq
fi
dl=$(mktemp -d)
trap 'rm -rf "$dl"' EXIT
chmod 755 "$dl"
args=()
for p in "${pkgs[@]}"; do args+=("$p:armel"); done
(cd "$dl" && apt-get download -qq "${args[@]}") || {
	# The package index may predate the armel architecture: refresh once.
	$sudo apt-get update -qq
	(cd "$dl" && apt-get download -qq "${args[@]}")
}
rm -rf "$root"
mkdir -p "$root"
for deb in "$dl"/*.deb; do
	dpkg -x "$deb" "$root"
done
# Absolute links point into the host's /; make them point into the sysroot.
find "$root" -type l | while read -r link; do
	target=$(readlink "$link")
	case "$target" in
	/*) ln -sf "$root$target" "$link" ;;
	esac
done
touch "$root/.complete"
echo "armel sysroot ready in $root"
