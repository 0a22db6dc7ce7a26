#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it the way an installation would:
# its contents, its desktop entry, its dependencies, and the program starting from an unpacked root.
set -euo pipefail
build_dir=$(cd "${1:-build/release}" && pwd)
cd "$build_dir"
rm -f tavrin_*.deb
cpack -G DEB >/dev/null
deb=$(ls tavrin_*.deb)
echo "package: $deb"

fail() { echo "check-package: $*" >&2; exit 1; }
contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/tavrin ./usr/bin/tavrin-convert ./usr/share/man/man1/tavrin-convert.1.gz \
            ./usr/share/applications/tavrin.desktop \
            ./usr/share/icons/hicolor/16x16/apps/tavrin.png \
            ./usr/share/icons/hicolor/32x32/apps/tavrin.png \
            ./usr/share/icons/hicolor/64x64/apps/tavrin.png \
            ./usr/share/doc/tavrin/examples/utf-8/CEntity.txt \
            ./usr/share/doc/tavrin/examples/shift_jis/CEntity.txt; do
  grep -q " $path\$" <<<"$contents" || fail "missing $path"
done
depends=$(dpkg-deb --field "$deb" Depends)
for dep in libqt6widgets6 libjpeg62-turbo libglib2.0-0 qt6-qpa-plugins fonts-ipafont-gothic \
           qt6-translations-l10n libglib2.0-data; do
  grep -q "$dep" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

description=$(dpkg-deb --field "$deb" Description)
summary=$(head -n1 <<<"$description")
grep -qxF " $summary" <<<"$description" && fail "the long description repeats the summary"
grep -q '^  ' <<<"$description" && fail "the long description is indented twice"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/tavrin.desktop"
# The converter runs from the unpacked root, and its manual page is found by name and formats
# without warnings.
"$root/usr/bin/tavrin-convert" --version | grep -q '^tavrin-convert (tavrin) ' \
  || fail "the unpacked tavrin-convert does not run"
page=$(MANPATH="$root/usr/share/man" MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings tavrin-convert 2>&1) \
  || fail "man tavrin-convert failed: $page"
grep -q 'EXIT STATUS' <<<"$page" || fail "the manual page lacks its exit status"
grep -q 'warning' <<<"$page" && fail "the manual page formats with warnings: $page"
# The unpacked program starts, loads its table and keeps running until stopped.
cd "$root/usr/share/doc/tavrin/examples/utf-8"
status=0
HOME="$root" XDG_RUNTIME_DIR="$root" QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/tavrin" \
  sample-en.html >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "the unpacked program ended with status $status"
echo "check-package: ok ($(stat -c %s "$build_dir/$deb") bytes)"
