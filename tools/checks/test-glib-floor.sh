#!/usr/bin/env bash
# glib-floor.sh's source step: GLib 2.14 code passes; a planted use of API
# marked newer, and of header-only helpers newer than 2.14, fails.
#   test-glib-floor.sh <glib-floor.sh>
set -uo pipefail
check=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0

plant() {	# name, body of main
	printf '#include <glib.h>\nint main()\n{\n%s\n}\n' "$2" >"$dir/$1.cpp"
}
plant old '	gchar *s = g_strdup("a");
	GKeyFile *k = g_key_file_new();
	g_key_file_free(k);
	g_free(s);
	return 0;'
plant marked '	const gchar *v[] = {"a", nullptr};
	return g_strv_contains(v, "a") ? 0 : 1;'
plant clear '	gchar *s = g_strdup("a");
	g_clear_pointer(&s, g_free);
	return 0;'
plant autofree '	g_autofree gchar *s = g_strdup("a");
	return s[0] == 0;'

out=$(bash "$check" --sources "$dir/old.cpp" 2>&1) || { echo "2.14 code refused: $out"; fail=1; }
for f in marked:g_strv_contains clear:g_clear_pointer autofree:g_autofree; do
	name=${f%%:*} word=${f#*:}
	if out=$(bash "$check" --sources "$dir/$name.cpp" 2>&1); then
		echo "planted $word passed the check"
		fail=1
	elif ! grep -q "$word" <<<"$out"; then
		echo "planted $word failed without naming it: $out"
		fail=1
	fi
done
[ $fail -eq 0 ] && echo "glib-floor refuses every planted newer use"
exit $fail
