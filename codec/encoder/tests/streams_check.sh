#!/usr/bin/env bash
# The encoded streams of codec_encoder_end_to_end_tests against ffmpeg, the
# input signals and ffmpeg's own AAC encoder (streams_check.py).
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg py:numpy
exec /usr/bin/python3 "$(dirname "$0")/streams_check.py" "$VOG_FIXTURE_DIR/aacenc"
