#!/usr/bin/env bash
# The ADTS and ADIF streams of codec_encoder_transport_tests against ffmpeg
# and faad (transport_check.py).
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe faad py:numpy
exec /usr/bin/python3 "$(dirname "$0")/transport_check.py" "$VOG_FIXTURE_DIR/aacenc"
