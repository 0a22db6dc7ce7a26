#!/usr/bin/env bash
# Takes the README's pictures of the program under a virtual X server: docs/screenshots/*.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-build/dev}
cmake --build "$top/$build_dir" --target tavrin-screenshots >/dev/null
tool="$top/$build_dir/tools/tavrin-screenshots"
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" "$tool" "$top/examples/utf-8" "$top/docs/screenshots"
