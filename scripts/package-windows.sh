#!/usr/bin/env bash
# Packs the Windows build for users: build/windows/package/tavrin-setup-<version>.exe (NSIS,
# per-user) and the portable tavrin-<version>-windows.zip beside it; then checks the installer
# under Wine (scripts/test-windows-installer.sh on a virtual display).
# Usage: scripts/package-windows.sh [BUILD_DIR]   (default build/windows, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/windows}")

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package-windows: no project version in $build" >&2; exit 1; }
out="$build/package"
name="tavrin-$version"
stage="$out/$name"
rm -rf "$out"
mkdir -p "$stage"
cp "$build/app/tavrin.exe" "$build/cli/tavrin-convert.exe" README.md "$stage/"
cp -r examples "$stage/examples"

# The example files as NSIS commands: installed folder by folder, removed file by file.
files="$out/files.nsh" unfiles="$out/unfiles.nsh"
: >"$files"
: >"$unfiles"
while IFS= read -r dir; do
  rel=${dir#"$stage"/}
  echo "SetOutPath \"\$INSTDIR\\${rel//\//\\}\"" >>"$files"
  while IFS= read -r file; do
    echo "File \"$file\"" >>"$files"
    echo "Delete \"\$INSTDIR\\${rel//\//\\}\\$(basename "$file")\"" >>"$unfiles"
  done < <(find "$dir" -maxdepth 1 -type f | sort)
done < <(find "$stage/examples" -type d | sort)
while IFS= read -r dir; do
  rel=${dir#"$stage"/}
  echo "RMDir \"\$INSTDIR\\${rel//\//\\}\"" >>"$unfiles"
done < <(find "$stage/examples" -type d | sort -r)

setup="$out/tavrin-setup-$version.exe"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files" -DUNFILES="$unfiles" \
  -DICON="$build/win32/tavrin.ico" -DOUTFILE="$setup" win32/installer/tavrin.nsi >/dev/null
zip="$out/$name-windows.zip"
(cd "$out" && cmake -E tar cf "$(basename "$zip")" --format=zip "$name")
echo "package-windows: $setup"
echo "package-windows: $zip"

xvfb-run -a scripts/test-windows-installer.sh "$setup" "$build"
