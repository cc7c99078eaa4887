#!/usr/bin/env bash
# Test fixture: reference data of the codec runtime, made with numpy/scipy.
set -euo pipefail
out="$1/codec_common"
rm -rf "$out"
mkdir -p "$out"
/usr/bin/python3 "$(dirname "$0")/make_references.py" "$out"
