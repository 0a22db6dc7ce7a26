#!/usr/bin/env bash
# A file far larger than the memory it may use, through the command: converted correctly, in
# chunks, with a bounded peak resident size. A benchmark, not a test: it needs about 2 x SIZE of
# free space in TMPDIR (the input and its output) and takes a minute or so.
#   bench/huge-input.sh [BUILD_DIR] [SIZE_MIB] [MAX_RSS_MIB]   (defaults: build/release, 3072, 256)
set -euo pipefail
build=${1:-build/release}
size_mib=${2:-3072}
max_rss_mib=${3:-256}
convert="$(cd "$build" 2>/dev/null && pwd)/cli/tavrin-convert"
[ -x "$convert" ] || { echo "huge-input: no $convert; build it first (make build PRESET=release)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "huge-input: needs /usr/bin/time (scripts/install-deps.sh)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-huge-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '&amp;=&\r\n&lt;=<\r\n&gt;=>\r\n&nbsp;=&tavri:spe;\r\n' >CEntity.txt

# One MiB of markup with entities, tags and Shift-JIS text, ending in a line break: a place where
# no match can straddle and no tag is open, so the input is this block over and over and its
# output the block's own output over and over.
line=$'<p class="x">&amp;lt;b&amp;gt; \x83\x5C\x83\x65 &nbsp;&lt;i&gt;text&lt;/i&gt;</p>\r\n'
: >block.html
while [ "$(stat -c %s block.html)" -lt 1048576 ]; do printf '%s' "$line" >>block.html; done
truncate -s 1048574 block.html
printf '\r\n' >>block.html
"$convert" -j 1 block.html
for _ in $(seq 1 "$size_mib"); do cat block.html; done >huge.html
bytes=$(stat -c %s huge.html)

echo "huge-input: converting $bytes bytes with one job"
/usr/bin/time -f '%e %M' -o time.txt "$convert" -j 1 huge.html
read -r seconds peak_kb <time.txt
echo "huge-input: $seconds s, peak resident $((peak_kb / 1024)) MiB"
for _ in $(seq 1 "$size_mib"); do cat block.html.txt; done | cmp -s - huge.html.txt ||
  { echo "huge-input: the output differs from the block's output repeated" >&2; exit 1; }
echo "huge-input: converted correctly"
[ "$peak_kb" -le $((max_rss_mib * 1024)) ] ||
  { echo "huge-input: peak resident above ${max_rss_mib} MiB" >&2; exit 1; }
rm huge.html.txt

# With far less address space than the file's size, it converts all the same.
limit_kb=$((bytes / 1024 / 4))
(ulimit -v "$limit_kb"; "$convert" -j 1 huge.html) ||
  { echo "huge-input: failed with ${limit_kb} KB of address space" >&2; exit 1; }
[ "$(stat -c %s huge.html.txt)" -eq "$(( $(stat -c %s block.html.txt) * size_mib ))" ] ||
  { echo "huge-input: wrong output size with ${limit_kb} KB of address space" >&2; exit 1; }
echo "huge-input: converted with ${limit_kb} KB of address space"
