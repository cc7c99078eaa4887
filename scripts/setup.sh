#!/usr/bin/env bash
# Installs every package the project needs on a fresh Debian 12 machine and prepares
# the Wine prefixes. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build make pkg-config
  g++ clang libclang-rt-14-dev llvm
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
  wine wine32:i386 xvfb xauth
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg faad mediainfo atomicparsley sox libimage-exiftool-perl
  python3 python3-numpy python3-scipy python3-pefile python3-mutagen python3-pil
  valgrind
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  updated_arch=1
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${updated_arch:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

# One Wine prefix per build tree; made here so that the first test does not pay for it.
here="$(cd "$(dirname "$0")/.." && pwd)"
for preset in win32; do
  prefix="$here/build/$preset/wineprefix"
  if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" wineserver -w || true
  fi
done
echo "setup: done"
