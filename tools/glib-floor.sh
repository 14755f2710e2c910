#!/usr/bin/env bash
# Fails when the GLib-using code reaches past GLib 2.14, the oldest GLib
# the board's user interface may bring:
#  1. every shipped source compiled with GLib's include flags is compiled
#     again with GLIB_VERSION_MIN_REQUIRED and GLIB_VERSION_MAX_ALLOWED at
#     the oldest version today's headers know (2.26), so that API marked as
#     newer is an error; and it must not use the header-only helpers newer
#     than 2.14 that carry no such mark (g_autofree, g_clear_pointer ...);
#  2. no installed program, nor the settings library that the user
#     interface links, imports a GLib function newer than 2.14: each
#     function's first version is read from GLib's own introspection data
#     ("version" attribute of GLib-2.0.gir).
#   glib-floor.sh [build-dir]       (default: build, or $BUILD_DIR)
#   glib-floor.sh --sources FILE... (step 1 on these files alone)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
gir=/usr/share/gir-1.0/GLib-2.0.gir

# Header-only API newer than 2.14 that the version macros cannot flag.
NEWER_MACROS='g_autofree|g_autoptr|g_autolist|g_autoslist|g_autoqueue|g_auto[[:space:]]*\(|'\
'G_DEFINE_AUTO(PTR)?_CLEANUP_(FUNC|FREE_FUNC|CLEAR_FUNC)|g_clear_pointer|g_steal_pointer|'\
'g_clear_handle_id|g_clear_list|g_clear_slist|g_assert_(true|false|null|nonnull|cmpmem|cmpstrv|no_errno)|'\
'G_STATIC_ASSERT|G_SOURCE_(REMOVE|CONTINUE)|G_GNUC_(BEGIN|END)_IGNORE_DEPRECATIONS|G_GNUC_CHECK_VERSION|'\
'G_GNUC_FALLTHROUGH|G_GNUC_NO_INLINE|G_ALWAYS_INLINE|G_NO_INLINE|G_NORETURN|G_APPROX_VALUE|'\
'G_SIZEOF_MEMBER|G_DEFINE_QUARK|g_info[[:space:]]*\('
OLDEST="-DGLIB_VERSION_MIN_REQUIRED=GLIB_VERSION_2_26 -DGLIB_VERSION_MAX_ALLOWED=GLIB_VERSION_2_26"

# One source: compiled against the oldest API, then grepped.  Prints what
# is wrong; returns 1 if anything is.
check_source() {
	local file=$1 cmd=$2 ok=0 out
	# shellcheck disable=SC2086
	if ! out=$(eval "$cmd $OLDEST -Werror=deprecated-declarations -fsyntax-only" 2>&1); then
		echo "glib-floor: $file does not compile against the GLib 2.26 API (2.14 and later):"
		echo "$out" | grep -E 'error|note: declared' | head -20 | sed 's/^/    /'
		ok=1
	fi
	if grep -nE "\b($NEWER_MACROS)" "$file" | sed "s|^|glib-floor: $file:|; s|\$| (newer than GLib 2.14)|" | grep .; then
		ok=1
	fi
	return $ok
}

if [ "${1:-}" = "--sources" ]; then
	shift
	flags=$(pkg-config --cflags glib-2.0)
	rc=0
	for f in "$@"; do
		check_source "$f" "c++ -std=c++20 $flags -I$(dirname "$f") -c $(printf %q "$f")" || rc=1
	done
	exit $rc
fi

build="${1:-${BUILD_DIR:-$top/build}}"
"$top/tools/install-deps.sh" libgirepository1.0-dev python3 binutils

# Step 1: the compile commands of the shipped GLib users.
[ -f "$build/compile_commands.json" ] || cmake "$build" >/dev/null
hdrs=$(mktemp)
trap 'rm -f "$hdrs"' EXIT
commands=$(python3 - "$build/compile_commands.json" 2>"$hdrs" <<'PY'
import json, shlex, sys
for e in json.load(open(sys.argv[1])):
    f = e["file"]
    if "glib-2.0" not in e["command"] or any(d in f for d in ("/tests/", "/fuzz/", "/bench/")):
        continue
    # The same command, without its output, from its own folder.
    args = shlex.split(e["command"])
    if "-o" in args:
        i = args.index("-o")
        del args[i:i + 2]
    print(f + "\t" + "cd " + shlex.quote(e["directory"]) + " && " + shlex.join(args))
    # Our own headers it may include: its folder and the -I folders.
    dirs = [f.rsplit("/", 1)[0]] + [a[2:] for a in args if a.startswith("-I")]
    for d in dirs:
        d = d if d.startswith("/") else e["directory"] + "/" + d
        print("headers\t" + d, file=sys.stderr)
PY
)
[ -n "$commands" ] || { echo "glib-floor: no GLib-using source in $build/compile_commands.json"; exit 1; }
src_rc=0
n=0
while IFS=$'\t' read -r file cmd; do
	check_source "$file" "$cmd" || src_rc=1
	n=$((n + 1))
done <<<"$commands"
for d in $(cut -f2 "$hdrs" | xargs -r realpath -m | sort -u); do
	case "$d" in "$top"/*) ;; *) continue ;; esac
	for h in "$d"/*.h; do
		[ -f "$h" ] || continue
		if grep -nE "\b($NEWER_MACROS)" "$h" | sed "s|^|glib-floor: $h:|; s|\$| (newer than GLib 2.14)|" | grep .; then
			src_rc=1
		fi
	done
done
[ $src_rc -eq 0 ] && echo "glib-floor: $n GLib-using sources compile against the 2.26 API and use no newer macro"

# Step 2: the imported functions.
stage=$(mktemp -d)
trap 'rm -rf "$stage" "$hdrs"' EXIT
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
exit $src_rc
