#!/usr/bin/env bash
# Runs one Windows test program on a virtual display (xvfb-run) in a Wine
# prefix of its own: a Wine session started without a display (by the headless
# tests) cannot show windows, so UI tests never share it. The prefix's server
# is stopped afterwards so that the next run starts on its own display.
# Arguments: wine-run script, prefix folder, program, program arguments.
set -uo pipefail
wine_run="$1"; prefix="$2"; shift 2
export WINEPREFIX="$prefix"
xvfb-run -a "$wine_run" "$@"
status=$?
wineserver -k 2>/dev/null || true
exit $status
