#!/usr/bin/env bash
# Fails when an installed program, or the settings library that the user
# interface links, imports a GLib function that GLib 2.14 does not have.
# The board's user interface builds against its own GLib, which may be as
# old as 2.14.  Each function's first version is read from GLib's own
# introspection data ("version" attribute of GLib-2.0.gir).
#   glib-floor.sh [build-dir]       (default: build, or $BUILD_DIR)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-${BUILD_DIR:-$top/build}}"
gir=/usr/share/gir-1.0/GLib-2.0.gir

"$top/tools/install-deps.sh" libgirepository1.0-dev python3 binutils

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" >/dev/null
objects=()
for prog in "$stage"/usr/bin/*; do
	file -b "$prog" | grep -q 'dynamically linked' && objects+=("$prog")
done
lib="$build/settings/libnavtex_settings.a"
[ -f "$lib" ] && objects+=("$lib")
[ ${#objects[@]} -gt 0 ] || { echo "glib-floor: nothing to check in $build"; exit 1; }

for obj in "${objects[@]}"; do
	case "$obj" in
	*.a) nm --undefined-only "$obj" ;;
	*) nm -D --undefined-only "$obj" ;;
	esac | awk -v o="$(basename "$obj")" '$NF ~ /^g_/ { sub(/@.*/, "", $NF); print o, $NF }'
done | sort -u | python3 -c '
import sys, xml.etree.ElementTree as ET

FLOOR = (2, 14)
C = "{http://www.gtk.org/introspection/c/1.0}"
# Functions that only today'"'"'s headers call, expanding macros 2.14 has:
# they are not the code'"'"'s choice.
FROM_OLD_MACROS = {
    "g_malloc_n": "g_new", "g_malloc0_n": "g_new0", "g_realloc_n": "g_renew",
    "g_try_malloc_n": "g_try_new", "g_try_malloc0_n": "g_try_new0",
    "g_try_realloc_n": "g_try_renew",
    "g_assertion_message_expr": "g_assert",
}
# The thread API before 2.32 is left out of the introspection data; these
# names are all in GLib 2.14 (up to 2.30 many were macros through the
# thread vtable).
PRE_232_THREADS = {
    "g_thread_init", "g_thread_init_with_errorcheck_mutexes",
    "g_thread_create", "g_thread_create_full",
    "g_mutex_new", "g_mutex_free", "g_cond_new", "g_cond_free",
    "g_cond_timed_wait", "g_private_new",
    "g_static_mutex_init", "g_static_mutex_free", "g_static_mutex_get_mutex_impl",
}

def version(text):
    return tuple(int(x) for x in text.split(".")[:2])

since = {}
for el in ET.parse(sys.argv[1]).iter():
    ident = el.get(C + "identifier")
    if ident and el.tag.split("}")[-1] in ("function", "method", "constructor", "function-macro"):
        since[ident] = el.get("version")

bad = []
for line in sys.stdin:
    obj, name = line.split()
    if name in FROM_OLD_MACROS:
        continue
    if name not in since:
        if name in PRE_232_THREADS:
            continue
        bad.append(f"{obj}: {name} is not in the introspection data; look it up and list it here")
    elif since[name] and version(since[name]) > FLOOR:
        bad.append(f"{obj}: {name} needs GLib {since[name]}")
for b in bad:
    print("glib-floor:", b)
if bad:
    print(f"glib-floor: {len(bad)} imports newer than GLib %d.%d" % FLOOR)
    sys.exit(1)
print("glib-floor: every GLib function imported is in GLib %d.%d" % FLOOR)
' "$gir"
