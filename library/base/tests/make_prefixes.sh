#!/usr/bin/env bash
# Creates the Wine prefixes of the locale-dependent and UI tests before they
# run, so that parallel tests never boot one prefix twice at once.
set -euo pipefail
build="$(dirname "$1")"; shift  # $1: the build tree's fixture folder
here="$(cd "$(dirname "$0")/../../.." && pwd)"
for name in "$@"; do
  export WINEPREFIX="$build/wineprefix-$name"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$here/scripts/wine-run" cmd /c exit >/dev/null 2>&1 || true
    wineserver -w || true
  fi
done
