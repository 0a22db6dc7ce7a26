#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it the way an installation would:
# its contents, its desktop entry, its dependencies, its manual pages, its AppStream metadata, what
# lintian says of it, and the program starting from an unpacked root.
# The package's bytes depend on the commit only: its files' times are SOURCE_DATE_EPOCH (by
# default the commit's time), which CPack also gives to the archive members it sorts;
# scripts/reproducible-check.sh builds it again elsewhere and compares.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:-build/release}" && pwd)
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$("$top/scripts/source-date-epoch.sh")}
export SOURCE_DATE_EPOCH
cd "$build_dir"
rm -f tavrin_*.deb
cpack -G DEB >/dev/null
deb=$(ls tavrin_*.deb)
echo "package: $deb"

fail() { echo "check-package: $*" >&2; exit 1; }
contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/tavrin ./usr/bin/tavrin-convert ./usr/share/man/man1/tavrin-convert.1.gz \
            ./usr/share/man/man1/tavrin.1.gz ./usr/share/applications/tavrin.desktop \
            ./usr/share/metainfo/org.example.tavrin.metainfo.xml \
            ./usr/share/doc/tavrin/copyright ./usr/share/doc/tavrin/changelog.gz \
            ./usr/share/lintian/overrides/tavrin \
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

# lintian as a distribution would run it, pedantic and experimental tags included: any tag it
# prints fails (what is meant so is overridden, with its reason, in the package itself).
report=$(lintian -EIL +pedantic --tag-display-limit 0 --fail-on none "$deb" 2>&1) \
  || fail "lintian failed: $report"
tags=$(grep -E '^[EWIPX]: ' <<<"$report") || true
[ -z "$tags" ] || fail "lintian reports:
$tags"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/tavrin.desktop"
# --no-net: the home page and the screenshots' addresses are placeholders until the project has a
# public home (see the file), so they cannot be fetched; everything else is checked.
appstreamcli validate --pedantic --no-net \
  "$root/usr/share/metainfo/org.example.tavrin.metainfo.xml" >/dev/null \
  || fail "the AppStream metadata does not validate: $(appstreamcli validate --pedantic --no-net \
          "$root/usr/share/metainfo/org.example.tavrin.metainfo.xml" 2>&1)"
# The converter runs from the unpacked root, and its manual page is found by name and formats
# without warnings.
"$root/usr/bin/tavrin-convert" --version | grep -q '^tavrin-convert (tavrin) ' \
  || fail "the unpacked tavrin-convert does not run"
for name in tavrin-convert tavrin; do
  page=$(MANPATH="$root/usr/share/man" MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings $name 2>&1) \
    || fail "man $name failed: $page"
  grep -q 'warning' <<<"$page" && fail "the manual page of $name formats with warnings: $page"
  case $name in
    tavrin-convert) grep -q 'EXIT STATUS' <<<"$page" || fail "the manual page lacks its exit status" ;;
    tavrin) grep -q 'CEntity.txt' <<<"$page" || fail "the manual page of tavrin lacks its table" ;;
  esac
done
# The unpacked program starts, loads its table and keeps running until stopped.
cd "$root/usr/share/doc/tavrin/examples/utf-8"
status=0
HOME="$root" XDG_RUNTIME_DIR="$root" QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/tavrin" \
  sample-en.html >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "the unpacked program ended with status $status"
echo "check-package: ok ($(stat -c %s "$build_dir/$deb") bytes)"
