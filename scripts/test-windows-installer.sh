#!/usr/bin/env bash
# Checks the Windows installer under Wine, in a throwaway prefix: a silent install per user with
# the licence, notices and changelog, the installed tavrin-convert.exe converting a page, the
# installed tavrin.exe opening its window (and closing from its close box), the "Send to" entry
# starting it with the files sent listed, and a silent uninstall that leaves nothing behind.
# Usage (on a display, e.g. under xvfb-run): scripts/test-windows-installer.sh SETUP.exe BUILD_DIR
set -euo pipefail
setup=$(realpath "$1")
build=$(realpath "$2")
cd "$(dirname "$0")/.."

# shellcheck source=scripts/wine-prefix.sh
. scripts/wine-prefix.sh
[ -n "${KEEP:-}" ] && trap - EXIT
fail() {
  echo "test-windows-installer: $*" >&2
  exit 1
}

profile=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
installed="$profile/AppData/Local/Programs/tavrin"
# The folder of per-user programs, which the install makes where it is missing.
programs_before=
if [ -e "$(dirname "$installed")" ]; then programs_before=yes; fi

echo "test-windows-installer: silent install"
wine "$setup" /S
wineserver -w
shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/tavrin.lnk"
sendto="$profile/AppData/Roaming/Microsoft/Windows/SendTo/tavrin.lnk"
for f in tavrin.exe tavrin-convert.exe README.md LICENSE CHANGELOG.md NOTICES.txt Uninstall.exe \
  examples/shift_jis/CEntity.txt examples/utf-8/sample-ja.html; do
  [ -f "$installed/$f" ] || fail "$f is not installed in $installed"
done
cmp -s "$installed/LICENSE" LICENSE || fail "the installed LICENSE is not the project's"
grep -q 'based in part on the work of the Independent JPEG Group' "$installed/NOTICES.txt" ||
  fail "NOTICES.txt lacks the notice libjpeg asks for"
[ -f "$shortcut" ] || fail "no Start-menu shortcut"
strings -el "$shortcut" | grep -qi 'examples\\shift_jis$' ||
  fail "the shortcut does not start in the Shift-JIS examples"
[ -f "$sendto" ] || fail "no \"Send to\" entry"
strings -el "$sendto" | grep -qi 'tavrin\.exe$' || fail "the \"Send to\" entry does not start tavrin.exe"

echo "test-windows-installer: the installed tavrin-convert.exe"
work="$WINEPREFIX/drive_c/work"
mkdir -p "$work"
cp "$installed/examples/utf-8/sample-en.html" "$work/page.html"
wine "$installed/tavrin-convert.exe" --quiet --table "$installed/examples/utf-8/CEntity.txt" \
  "$work/page.html"
grep -q 'an escaped &lt;b&gt; stays readable as ＜b＞' "$work/page.html.txt" ||
  fail "page.html.txt is not the converted page"
grep -q '<' "$work/page.html.txt" && fail "page.html.txt still holds tags"

echo "test-windows-installer: the installed tavrin.exe opens its window"
(cd "$installed/examples/shift_jis" && exec wine "$installed/tavrin.exe") &
program=$!
wine "$build/tests/tavrin_wait_window.exe" TavrinMain tavrin 60 ||
  { kill "$program" 2>/dev/null; fail "no window \"tavrin\" appeared"; }
wait "$program" || fail "tavrin.exe did not end cleanly after its window closed"

echo "test-windows-installer: files sent with \"Send to\" are listed"
# Explorer starts the entry's program with the files as its arguments; start does the same.
cp "$installed/examples/utf-8/sample-en.html" "$work/sent-1.html"
cp "$installed/examples/utf-8/sample-ja.html" "$work/sent-2.html"
wine start /unix "$sendto" 'C:\work\sent-1.html' 'C:\work\sent-2.html'
wine "$build/tests/tavrin_wait_window.exe" TavrinMain tavrin 60 2 ||
  fail "the window started from \"Send to\" did not list the two files"
wineserver -w

echo "test-windows-installer: silent uninstall"
# The uninstaller copies itself to the temporary folder, starts that copy and returns at once:
# the Wine server ends when the copy has.
wine "$installed/Uninstall.exe" /S
wineserver -w
[ ! -e "$installed" ] || fail "left behind: $(find "$installed" | head -n 5 | tr '\n' ' ')"
[ -n "$programs_before" ] || [ ! -e "$(dirname "$installed")" ] ||
  fail "the folder $(dirname "$installed") is left behind"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is left behind"
[ ! -e "$sendto" ] || fail "the \"Send to\" entry is left behind"
if wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tavrin' >/dev/null 2>&1; then
  fail "the uninstall entry is left behind"
fi
echo "test-windows-installer: passed"
