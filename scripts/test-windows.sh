#!/usr/bin/env bash
# Cross-builds the core, the window, their tests and tavrin-convert for Windows (preset "windows")
# and runs the tests under Wine twice: in the default ANSI code page (1252, no lead bytes) and in
# the Japanese one (932, Shift-JIS), which Wine takes from the Unix locale.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-windows-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "${JOBS:-$(nproc)}"

# No display, so a dialog fails at once instead of waiting for an answer nobody gives (the
# window's tests get one of their own below); and a throwaway Wine prefix.
unset DISPLAY WAYLAND_DISPLAY
# shellcheck source=scripts/wine-prefix.sh
. scripts/wine-prefix.sh

# TAVRIN_EXPECT_ACP makes the tests check that Wine really runs them in that code page. The
# window's tests (label "window") run on a virtual display, with a Wine server started there;
# the rest stay without one.
run_tests() {
  local acp=$1 locale=$2
  echo "test-windows: code page $acp"
  TAVRIN_EXPECT_ACP=$acp LC_ALL=$locale ctest --preset windows -LE window
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  echo "test-windows: code page $acp, the window on a virtual display"
  TAVRIN_EXPECT_ACP=$acp LC_ALL=$locale xvfb-run -a ctest --preset windows -L window
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
}
run_tests 1252 C.UTF-8
run_tests 932 ja_JP.UTF-8
