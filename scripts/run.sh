#!/usr/bin/env bash
# Starts the window from a build folder, in a folder whose CEntity.txt suits the user's code set.
set -euo pipefail
build_dir=${1:-build/dev}
top=$(cd "$(dirname "$0")/.." && pwd)
exe="$top/$build_dir/app/tavrin"
if [ ! -x "$exe" ]; then
  echo "run: the window is not built yet ($exe is missing)" >&2
  exit 1
fi
work="${TAVRIN_WORKDIR:-$top/examples}"
cd "$work"
exec "$exe"
