#!/usr/bin/env bash
# The plug-in DLL's read road over 100 damaged files (the CI size of the
# 1,000-file sweep, scripts/dll-sweep.sh): no crash, no file over the bound,
# no growth of handles or private bytes.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DLLSWEEP_DIR=$work DLLSWEEP_ARGS="--warmup 10 ${DLLSWEEP_ARGS:-}" \
  bash "$VOG_SOURCE_DIR/scripts/dll-sweep.sh" 100
