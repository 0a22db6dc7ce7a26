#!/usr/bin/env bash
# A file too big for a 32-bit length, through the headless harness: converted correctly when
# memory suffices, refused with the too-large message when it does not, never a crash.
#   bench/huge-input.sh [BUILD_DIR] [SIZE]     (defaults: build/release, 3G)
# The input is sparse (no disk for its zeros), but the output is written in full and the
# process holds the whole text: it needs about SIZE of free disk and of memory.
set -euo pipefail
build=${1:-build/release}
size=${2:-3G}
convert="$(cd "$build" 2>/dev/null && pwd)/cli/tavrin-convert"
[ -x "$convert" ] || { echo "huge-input: no $convert; build it first (make build PRESET=release)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-huge-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '&amp;=&\r\n' >CEntity.txt
head='<p>&amp;head</p>'
tail='<b>tail</b>'
printf '%s' "$head" >huge.html
truncate -s "$size" huge.html
bytes=$(stat -c %s huge.html)
printf '%s' "$tail" | dd of=huge.html bs=1 seek=$((bytes - ${#tail})) conv=notrunc status=none
# Everything from the first NUL on keeps its bytes; only the tags go.
expected=$((bytes - ${#head} - ${#tail} + 5 + 4))

echo "huge-input: converting $bytes bytes"
measure=()
command -v /usr/bin/time >/dev/null && measure=(/usr/bin/time -f 'huge-input: %e s, peak %M KB')
"${measure[@]}" "$convert" huge.html
got=$(stat -c %s huge.html.txt)
[ "$got" -eq "$expected" ] || { echo "huge-input: output has $got bytes, expected $expected" >&2; exit 1; }
[ "$(head -c 5 huge.html.txt)" = "&head" ] || { echo "huge-input: wrong start" >&2; exit 1; }
[ "$(tail -c 4 huge.html.txt)" = "tail" ] || { echo "huge-input: wrong end" >&2; exit 1; }
cmp -s -i 5:0 -n $((expected - 9)) huge.html.txt /dev/zero || { echo "huge-input: wrong middle" >&2; exit 1; }
echo "huge-input: converted correctly"
rm huge.html.txt

# With less address space than the file needs, the read is refused with its own message.
limit_kb=$((bytes / 1024 / 2))
set +e
message=$(ulimit -v "$limit_kb"; "$convert" huge.html 2>&1 >/dev/null)
status=$?
set -e
echo "$message" | head -n 1
if [ "$status" -ne 1 ] || ! grep -q 'は大きすぎて読み込めません' <<<"$message" || [ -e huge.html.txt ]; then
  echo "huge-input: with ${limit_kb} KB of address space: status $status, expected a refusal" >&2
  exit 1
fi
echo "huge-input: refused cleanly with ${limit_kb} KB of address space"
