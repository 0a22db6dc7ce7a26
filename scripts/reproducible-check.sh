#!/usr/bin/env bash
# Builds this commit's Debian package (or, with "windows", its Windows zip) a second time, from a
# fresh copy of the commit in another folder, and compares the bytes with those of the checkout's
# build (`make package PRESET=...` or `make windows` first; brought up to date and packed again
# here): neither the folder, nor the time, nor the order in which a folder lists its files may
# reach them. The copy builds the programs alone, without tests or benchmarks, which go into
# neither.
# Usage: scripts/reproducible-check.sh [PRESET|windows]   (default release)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
what=${1:-release}
fail() {
  echo "reproducible-check: $*" >&2
  exit 1
}

git rev-parse --verify -q HEAD >/dev/null || fail "not a git checkout: there is no commit to build again"
[ -z "$(git status --porcelain)" ] ||
  fail "the checkout differs from its commit (git status): its build is not the commit's"
SOURCE_DATE_EPOCH=$(scripts/source-date-epoch.sh)
export SOURCE_DATE_EPOCH

jobs=${JOBS:-$(nproc)}
if [ "$what" = windows ]; then
  [ -f build/windows/CMakeCache.txt ] || fail "no build in build/windows: run make windows first"
  cmake --build build/windows -j "$jobs" --target tavrin tavrin-convert >/dev/null
  scripts/package-windows.sh build/windows zip >/dev/null
  ours=$(ls "$top"/build/windows/package/tavrin-*-windows.zip)
else
  [ -f "build/$what/CMakeCache.txt" ] || fail "no build in build/$what: run make package PRESET=$what first"
  cmake --build "build/$what" -j "$jobs" >/dev/null
  (cd "build/$what" && rm -f tavrin_*.deb && cpack -G DEB >/dev/null)
  ours=$(ls "$top/build/$what"/tavrin_*.deb)
fi

other=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-reproducible.XXXXXX")
trap 'rm -rf "$other"' EXIT
copy="$other/another-folder/tavrin"
git clone -q --no-checkout "$top" "$copy"
git -C "$copy" checkout -q --detach "$(git rev-parse HEAD)"
cd "$copy"
options=(-DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_BENCH=OFF --no-warn-unused-cli)
echo "reproducible-check: building $what again in $copy"
if [ "$what" = windows ]; then
  # libjpeg for MinGW is built once per machine, outside the commit: the copy uses the checkout's.
  mkdir -p build
  ln -s "$top/build/windows-deps" build/windows-deps
  cmake --preset windows "${options[@]}" >/dev/null
  cmake --build --preset windows -j "$jobs" --target tavrin tavrin-convert >/dev/null
  scripts/package-windows.sh build/windows zip >/dev/null
  theirs=$(ls "$copy"/build/windows/package/tavrin-*-windows.zip)
else
  cmake --preset "$what" "${options[@]}" >/dev/null
  cmake --build --preset "$what" -j "$jobs" >/dev/null
  (cd "build/$what" && cpack -G DEB >/dev/null)
  theirs=$(ls "$copy/build/$what"/tavrin_*.deb)
fi

if ! cmp "$ours" "$theirs"; then
  if [ "$what" != windows ]; then
    mkdir "$other/ours" "$other/theirs"
    dpkg-deb -R "$ours" "$other/ours"
    dpkg-deb -R "$theirs" "$other/theirs"
    diff -rq "$other/ours" "$other/theirs" >&2 || true
  fi
  fail "$(basename "$ours") differs when built in another folder"
fi
echo "reproducible-check: $(basename "$ours") is the same, byte for byte, built in another folder"
