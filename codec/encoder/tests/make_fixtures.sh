#!/usr/bin/env bash
# Test fixture of the encoder: reference data made with Python and numpy
# (bitwise CRCs, direct MDCTs) in $1/aacenc. Both builds read the same files.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool py:numpy py:scipy
out="$1/aacenc"
rm -rf "$out"
mkdir -p "$out"
/usr/bin/python3 "$(dirname "$0")/make_references.py" "$out"
/usr/bin/python3 "$(dirname "$0")/make_signals.py" "$out"
