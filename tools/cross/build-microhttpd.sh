#!/usr/bin/env bash
# Builds Debian's libmicrohttpd for the board into the armel sysroot, as a
# static library.  Debian's own armel build cannot serve: its archive needs
# GnuTLS (whose p11-kit and libunistring have no static archives), takes
# connections with accept4 and wakes its threads through eventfd, none of
# which Linux 2.6.25 has on ARM.  A pipe will not do either: glibc 2.36
# makes pipe() a pipe2 call (2.6.27).  So the same source package is built
# here without HTTPS, with plain accept, a socket pair between its threads
# made without SOCK_NONBLOCK (set by fcntl instead), and poll, not epoll.  Usage:
#   build-microhttpd.sh [sysroot-dir]     (default: out/armel-sysroot)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
root="${1:-$top/out/armel-sysroot}"
[ -f "$root/.microhttpd-2" ] && {
	echo "libmicrohttpd already in $root"
	exit 0
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
# The source package through apt, with a source list of its own so that the
# machine's configuration is left as it is.
mkdir -p "$work/lists/partial"
uris=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${uris:-http://deb.debian.org/debian} bookworm main" \
	>"$work/sources.list"
apt_src=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
	 -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
apt-get -qq "${apt_src[@]}" update
(cd "$work" && apt-get -qq "${apt_src[@]}" source --download-only libmicrohttpd)
(cd "$work" && dpkg-source -x --no-check ./libmicrohttpd_*.dsc src >/dev/null)
cd "$work/src"
ac_cv_func_accept4=no ac_cv_have_decl_SOCK_NONBLOCK=no ./configure -q \
	--host=arm-linux-gnueabi --prefix=/usr --libdir=/usr/lib/arm-linux-gnueabi \
	--enable-static --disable-shared --disable-https --disable-epoll --enable-poll \
	--enable-itc=socketpair --disable-curl --disable-doc --disable-examples --disable-nls \
	--disable-dauth --disable-bauth --disable-postprocessor \
	CFLAGS="-O2 -g -march=armv5te -mtune=arm926ej-s"
grep -q '^#define HAVE_ACCEPT4' MHD_config.h && { echo "libmicrohttpd: accept4 still in use"; exit 1; }
grep -q '^#define HAVE_SOCK_NONBLOCK' MHD_config.h && { echo "libmicrohttpd: SOCK_NONBLOCK still in use"; exit 1; }
grep -q '^#define _MHD_ITC_SOCKETPAIR' MHD_config.h || { echo "libmicrohttpd: not a socket pair between threads"; exit 1; }
make -s -j "$(nproc)" -C src/microhttpd
make -s -C src/microhttpd install DESTDIR="$root" >/dev/null
make -s -C src/include install DESTDIR="$root" >/dev/null
make -s install-pkgconfigDATA DESTDIR="$root" >/dev/null
rm -f "$root"/usr/lib/arm-linux-gnueabi/libmicrohttpd.la
touch "$root/.microhttpd-2"
echo "libmicrohttpd (static, no HTTPS, socket pair, poll) in $root"
