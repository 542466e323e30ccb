#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12. Cheap when all is there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  zlib1g-dev googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine64 wine32:i386 xvfb xauth
  clang-14 libclang-rt-14-dev clang-format
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
