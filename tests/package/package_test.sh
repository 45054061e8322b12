#!/usr/bin/env bash
# The Debian package and `make install`, checked as a person installing
# Morvane would find them: lintian has no errors, the desktop entry and the
# manual pages are valid, the package holds everything, and the installed
# renderer draws the same still as the build tree's.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/cpack.log" 2>&1 \
  || { cat "$tmp/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(ls "$tmp"/package/morvane_*.deb)

lintian --no-tag-display-limit "$deb" 2>/dev/null >"$tmp/lintian.txt" || true
if grep -q '^E:' "$tmp/lintian.txt"; then
  cat "$tmp/lintian.txt" >&2
  fail "lintian reports errors"
fi

desktop-file-validate "$source/data/desktop/morvane.desktop" || fail "the desktop entry is not valid"

for page in man6/morvane.6.gz man1/morvane-render.1.gz; do
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/man/$page" >"$tmp/page.gz"
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$tmp/page.gz" 2>"$tmp/man.err" >"$tmp/man.txt"
  [ ! -s "$tmp/man.err" ] || { cat "$tmp/man.err" >&2; fail "man warns about $page"; }
  grep -q 'EXIT STATUS' "$tmp/man.txt" || fail "$page has no exit status section"
  case $page in man6/*) grep -q 'Escape' "$tmp/man.txt" || fail "morvane(6) does not explain the keys" ;; esac
done

dpkg-deb -x "$deb" "$tmp/root"
for f in usr/bin/morvane usr/bin/morvane-render usr/share/applications/morvane.desktop \
         usr/share/icons/hicolor/256x256/apps/morvane.png usr/share/icons/hicolor/64x64/apps/morvane.png \
         usr/share/man/man6/morvane.6.gz usr/share/man/man1/morvane-render.1.gz \
         usr/share/doc/morvane/copyright; do
  [ -e "$tmp/root/$f" ] || fail "the package lacks /$f"
done
"$tmp/root/usr/bin/morvane" --version | grep -q '^morvane [0-9]' || fail "the packaged morvane has no --version"

# The installed renderer needs nothing from the source tree.
(cd "$tmp" && "$tmp/root/usr/bin/morvane-render" --at 27 --out "$tmp/installed" >/dev/null)
"$build/morvane-render" --at 27 --out "$tmp/built" >/dev/null
cmp "$tmp/installed/frame_027000.png" "$tmp/built/frame_027000.png" || fail "the packaged renderer draws another still at 27 s"

# make install's rules honour the prefix and DESTDIR.
DESTDIR="$tmp/dest" cmake --install "$build" --prefix /opt/morvane >/dev/null
[ -x "$tmp/dest/opt/morvane/bin/morvane" ] && [ -e "$tmp/dest/opt/morvane/share/applications/morvane.desktop" ] \
  || fail "make install did not honour PREFIX and DESTDIR"
echo "package, entry, pages and installed renderer all right"
