#!/usr/bin/env bash
# Installs every Debian package that building, testing and running tavrin needs, and every tool a
# make target calls; with the argument "package" also what only `make package` needs to check the
# package (lintian, appstreamcli).
# Idempotent: prints nothing and touches nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg-dev libglib2.0-dev libglib2.0-bin
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format libclang-rt-14-dev
  fonts-ipafont-gothic
  qt6-translations-l10n libglib2.0-data
  xvfb xauth
  dpkg-dev desktop-file-utils file man-db
  parallel time
  git make python3 perl
)
if [ "${1:-}" = package ]; then
  packages+=(lintian appstream)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
