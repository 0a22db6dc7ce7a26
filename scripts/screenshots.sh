#!/usr/bin/env bash
# Takes the README's pictures of the program under a virtual X server: docs/screenshots/*.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-build/dev}
tool="$top/$build_dir/bench/window/tavrin-screenshots"
[ -x "$tool" ] || { echo "screenshots: build first (make build)" >&2; exit 1; }
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" "$tool" "$top/examples/utf-8" "$top/docs/screenshots"
