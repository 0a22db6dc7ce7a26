#!/usr/bin/env bash
# Packs the Windows build for users: build/windows/package/tavrin-setup-<version>.exe (NSIS,
# per-user) and the portable tavrin-<version>-windows.zip beside it; then checks the installer
# under Wine (scripts/test-windows-installer.sh on a virtual display). Both carry LICENSE, the
# changelog and NOTICES.txt: the licences of what the programs link statically.
# The zip's bytes depend on the commit only (its times are SOURCE_DATE_EPOCH, by default the
# commit's time; its members sorted).
# Usage: scripts/package-windows.sh [BUILD_DIR [zip]]   (default build/windows, already built;
#        "zip": the zip alone, without installer and check)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/windows}")
only_zip=${2:-}
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(scripts/source-date-epoch.sh)}
export SOURCE_DATE_EPOCH

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package-windows: no project version in $build" >&2; exit 1; }
out="$build/package"
name="tavrin-$version"
stage="$out/$name"
zip="$out/$name-windows.zip"
if [ "$only_zip" = zip ]; then rm -rf "$stage" "$zip"; else rm -rf "$out"; fi
mkdir -p "$stage"
cp README.md LICENSE CHANGELOG.md "$stage/"
# The programs without their debugging sections: users need none, and they would carry the
# build's own paths.
for program in app/tavrin.exe cli/tavrin-convert.exe; do
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$program")" "$build/$program"
done
cp -r examples "$stage/examples"
find "$stage/examples" -name '*.html.txt' -delete

# The notices of what the programs link statically, their texts as the Debian packages they are
# built from give them: libjpeg-turbo (the About picture; its source package's licence files,
# kept by scripts/install-windows-deps.sh), the MinGW-w64 runtime and the GCC runtime libraries.
jpeg_notices=$(sed -n 's/^JPEG_LIBRARY:[A-Z]*=//p' "$build/CMakeCache.txt")
jpeg_notices="$(dirname "$(dirname "$jpeg_notices")")/share/doc/libjpeg-turbo"
notice_files=(
  "libjpeg-turbo: LICENSE.md|$jpeg_notices/LICENSE.md"
  "libjpeg-turbo: README.ijg|$jpeg_notices/README.ijg"
  "libjpeg-turbo: Debian's copyright file of its source package|$jpeg_notices/copyright"
  "MinGW-w64 runtime: Debian's copyright file of mingw-w64|/usr/share/doc/mingw-w64-common/copyright"
  "GCC runtime libraries: Debian's copyright file of gcc-mingw-w64|/usr/share/doc/gcc-mingw-w64-base/copyright"
)
{
  echo "Notices of the software built into tavrin.exe and tavrin-convert.exe"
  echo
  echo "tavrin itself is released under the MIT licence: see LICENSE."
  echo
  echo "The programs are linked statically with the following, whose licences ask that their"
  echo "notices travel with them. Each text below is reproduced as it was received."
  echo
  echo "- libjpeg-turbo, which decodes the About picture of tavrin.exe."
  echo "  This software is based in part on the work of the Independent JPEG Group."
  echo "- The MinGW-w64 runtime: start-up code, the C runtime's import stubs and winpthreads."
  echo "- The GCC runtime libraries libgcc and libstdc++, under the GCC Runtime Library Exception."
  for entry in "${notice_files[@]}"; do
    title=${entry%%|*} file=${entry#*|}
    [ -f "$file" ] || { echo "package-windows: missing $file" >&2; exit 1; }
    echo
    echo "=============================================================================="
    echo "$title"
    echo "=============================================================================="
    echo
    cat "$file"
  done
} >"$stage/NOTICES.txt"

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

# Members sorted, every time SOURCE_DATE_EPOCH, modes from the kind of file alone.
python3 - "$out" "$name" "$zip" <<'PYTHON'
import os, sys, time, zipfile
out, name, target = sys.argv[1:]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
paths = []
for folder, dirs, files in os.walk(os.path.join(out, name)):
    rel = os.path.relpath(folder, out)
    paths.append(rel + "/")
    paths += [os.path.join(rel, f) for f in files]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for path in sorted(paths):
        info = zipfile.ZipInfo(path, stamp)
        info.create_system = 3  # Unix, so that the modes below are read
        if path.endswith("/"):
            info.external_attr = (0o40755 << 16) | 0x10
            archive.writestr(info, b"")
        else:
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(out, path), "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
PYTHON
members=$(python3 -m zipfile -l "$zip")
for f in tavrin.exe tavrin-convert.exe LICENSE NOTICES.txt CHANGELOG.md; do
  grep -q "^$name/$f " <<<"$members" || { echo "package-windows: $f is not in the zip" >&2; exit 1; }
done
echo "package-windows: $zip"
[ "$only_zip" = zip ] && exit 0

# The licence page shows LICENSE with Windows' line ends.
sed 's/$/\r/' LICENSE >"$out/LICENSE.txt"
setup="$out/tavrin-setup-$version.exe"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files" -DUNFILES="$unfiles" \
  -DLICENSE="$out/LICENSE.txt" -DICON="$build/win32/tavrin.ico" -DOUTFILE="$setup" \
  win32/installer/tavrin.nsi >/dev/null
echo "package-windows: $setup"

xvfb-run -a scripts/test-windows-installer.sh "$setup" "$build"
