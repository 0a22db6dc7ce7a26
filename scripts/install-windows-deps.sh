#!/usr/bin/env bash
# Installs what cross-building the core and the window for Windows and running their tests under
# Wine (the window's on a virtual display) need, and the Japanese locale under which Wine's ANSI code page is 932.
# Idempotent: prints nothing and touches nothing when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix googletest
  wine wine64
  xvfb xauth
  locales
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
