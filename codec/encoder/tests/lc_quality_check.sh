#!/usr/bin/env bash
# The AAC-LC encoder against ffmpeg's AAC encoder on two synthesised sources
# at three presets (lc_quality_check.py): quality, bandwidth, bitrate, stream
# validity, delay and unit sizes.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe py:numpy py:scipy
# The NMR scorer lives in the shared project folder beside the checkout, which
# a clone (CI's included) legitimately lacks: then the check skips, CI or not.
nmr="$VOG_SHARED_DIR/tools/nmr_lite.py"
if [ ! -f "$nmr" ]; then
  echo "SKIP: $nmr absent (no shared folder beside this checkout)"
  exit 77
fi
exec /usr/bin/python3 "$(dirname "$0")/lc_quality_check.py" "$VOG_BIN_DIR/lc_encode_tool" \
  "$nmr" "$VOG_SOURCE_DIR/tools/bench/lc_sources.py"
