#!/bin/sh
# Stages what the Debian package holds (the install component "package") in a scratch root and
# judges it as a software centre and a menu would: AppStream's tree check follows the metainfo
# to its desktop entry, the entry's Exec line names the staged bundle's program, and the icon
# is there at every size the theme is given, each PNG of the size its folder says.
# Usage: check_package_tree.sh CMAKE BUILD_DIR
set -eu

cmake=${1:?usage: check_package_tree.sh CMAKE BUILD_DIR}
build=${2:?usage: check_package_tree.sh CMAKE BUILD_DIR}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0

fail() {
    echo "package_tree: $*" >&2
    failures=$((failures + 1))
}

"$cmake" --install "$build" --component package --prefix "$root" >/dev/null
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree found problems"

entry=$root/usr/share/applications/fr.velmora.universal.desktop
program=$(sed -n 's/^Exec=//p' "$entry")
case $program in
    /*" "* | "") fail "Exec=$program: the program alone, by its absolute path, is expected" ;;
    /*) [ -x "$root$program" ] || fail "Exec=$program is not a program of the package" ;;
    *) fail "Exec=$program is not an absolute path" ;;
esac
[ "$(sed -n 's/^Icon=//p' "$entry")" = fr.velmora.universal ] || fail "the entry's Icon is not fr.velmora.universal"

icons=$root/usr/share/icons/hicolor
[ -f "$icons/scalable/apps/fr.velmora.universal.svg" ] || fail "the scalable icon is missing"
for size in 128 256; do
    python3 - "$icons/${size}x${size}/apps/fr.velmora.universal.png" "$size" <<'PY' || fail "no ${size} px PNG icon"
import struct, sys
with open(sys.argv[1], "rb") as png:
    head = png.read(24)
size = int(sys.argv[2])
sys.exit(0 if head[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", head[16:24]) == (size, size) else 1)
PY
done

[ "$failures" -eq 0 ]
