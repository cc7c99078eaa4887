#!/usr/bin/env bash
# Installs every package the project needs on a fresh Debian 12 machine and prepares
# the Wine prefixes. Safe to run again: it installs only what is missing.
#
# Both Windows builds are installed: the 32-bit product (i686 mingw-w64, run under
# wine32) and the 64-bit test build (x86-64 mingw-w64, run under wine64). On a
# machine that cannot execute 32-bit code, wine32 is not installed and only the
# 64-bit prefix is made.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/vog-env.sh"

packages=(
  cmake ninja-build make pkg-config
  g++ clang libclang-rt-14-dev llvm
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg faad mediainfo atomicparsley sox libimage-exiftool-perl
  python3 python3-numpy python3-scipy python3-pefile python3-mutagen python3-pil
  valgrind
)
presets=(win64)
if vog_runs_i386; then
  packages+=(wine32:i386)
  presets=(win32 win64)
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

missing=()
if vog_runs_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
for preset in "${presets[@]}"; do
  prefix="$here/build/$preset/wineprefix"
  if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    VOG_WINE_ARCH="$preset" WINEPREFIX="$prefix" "$here/scripts/wine-run" wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" wineserver -w || true
  fi
done
echo "setup: done"
