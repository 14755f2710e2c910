#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing,
# and any further packages named on the command line.
set -euo pipefail
pkgs=(build-essential cmake pkg-config libglib2.0-dev googletest libgtest-dev
      libgmock-dev libbenchmark-dev gnuplot-nox imagemagick
      # navaudio, navsdr and navsynth's audio output (PC only)
      libsndfile1-dev libsoxr-dev libfftw3-dev nlohmann-json3-dev
      # navwatch's message store
      libsqlite3-dev "$@")
missing=()
for p in "${pkgs[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
