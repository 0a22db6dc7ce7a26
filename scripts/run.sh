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
# The example table in the user's code set, so the sample pages convert at once.
case "$(locale charmap 2>/dev/null)" in
  SHIFT_JIS|Shift_JIS|SJIS|CP932|WINDOWS-31J) table_dir=shift_jis ;;
  *) table_dir=utf-8 ;;
esac
work="${TAVRIN_WORKDIR:-$top/examples/$table_dir}"
cd "$work"
exec "$exe"
