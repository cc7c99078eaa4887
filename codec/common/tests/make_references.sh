#!/usr/bin/env bash
# Test fixture: reference data of the codec runtime, made with numpy/scipy.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool py:numpy py:scipy
out="$1/codec_common"
rm -rf "$out"
mkdir -p "$out"
/usr/bin/python3 "$(dirname "$0")/make_references.py" "$out"
