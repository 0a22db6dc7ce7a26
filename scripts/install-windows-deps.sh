#!/usr/bin/env bash
# Installs what cross-building the core and the window for Windows and running their tests under
# Wine (the window's on a virtual display) need, the Japanese locale under which Wine's ANSI code page is 932,
# NSIS for the installer, and libjpeg for the MinGW toolchain: built from the distribution's own source
# package into build/windows-deps/mingw (fetched with apt-get source through a private sources list and
# state, so the machine's package configuration stays as it is).
# Idempotent: prints nothing and touches nothing when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix googletest
  wine wine64
  xvfb xauth
  locales
  nsis dpkg-dev python3
)
japanese_locale=ja_JP.UTF-8

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "install-windows-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

has_japanese_locale() { locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; }
if ! has_japanese_locale; then
  echo "install-windows-deps: generating the $japanese_locale locale"
  $sudo localedef -i ja_JP -f UTF-8 "$japanese_locale"
  has_japanese_locale || { echo "install-windows-deps: $japanese_locale is still missing" >&2; exit 1; }
fi

# libjpeg for the cross compiler, static, from the source package of the suite this machine uses.
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/build/windows-deps"
prefix="$deps/mingw"
# Its licence texts travel with the programs that link it (scripts/package-windows.sh).
notices="$prefix/share/doc/libjpeg-turbo"
[ -f "$prefix/lib/libjpeg.a" ] && [ -f "$prefix/include/jpeglib.h" ] && [ -f "$notices/LICENSE.md" ] &&
  [ -f "$notices/README.ijg" ] && [ -f "$notices/copyright" ] && exit 0

echo "install-windows-deps: building libjpeg for MinGW from the distribution's source package"
apt_dir="$deps/apt"
rm -rf "$apt_dir" "$deps/src" "$deps/libjpeg-build"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$deps/src"
# The deb lines of the machine's own deb822 sources, as deb-src; else the release's main archive.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed -n 's/^Types:.*\bdeb\b.*/Types: deb-src/; /^\(Types\|URIs\|Suites\|Components\|Signed-By\):/p; /^$/p' "$f" \
    >"$apt_dir/sources.list.d/$(basename "$f")"
done
if ! grep -qs '^URIs:' "$apt_dir"/sources.list.d/*.sources; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $codename main" \
    >"$apt_dir/sources.list"
else
  : >"$apt_dir/sources.list"
fi
apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
)
apt-get -qq "${apt_options[@]}" update
(cd "$deps/src" && apt-get -qq "${apt_options[@]}" source libjpeg-turbo >/dev/null)
source_dir=$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n 1)
[ -n "$source_dir" ] || { echo "install-windows-deps: apt-get source gave no libjpeg-turbo tree" >&2; exit 1; }

# Only the static library: no SIMD (it would need nasm), no TurboJPEG API, no tools or tests.
cmake -S "$source_dir" -B "$deps/libjpeg-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
  -DCMAKE_CROSSCOMPILING_EMULATOR= -Wno-dev >/dev/null
cmake --build "$deps/libjpeg-build" --target jpeg-static -j "${JOBS:-$(nproc)}" >/dev/null
mkdir -p "$prefix/include" "$prefix/lib"
cp "$source_dir/jpeglib.h" "$source_dir/jmorecfg.h" "$source_dir/jerror.h" \
  "$deps/libjpeg-build/jconfig.h" "$prefix/include/"
cp "$deps/libjpeg-build/libjpeg.a" "$prefix/lib/libjpeg.a"
mkdir -p "$notices"
cp "$source_dir/LICENSE.md" "$source_dir/README.ijg" "$source_dir/debian/copyright" "$notices/"
rm -rf "$apt_dir" "$deps/libjpeg-build" "$source_dir"
