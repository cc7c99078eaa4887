#!/usr/bin/env bash
# The hand-quantised access units of codec_encoder_noiseless_tests against
# ffmpeg and a numpy synthesis (units_check.py).
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg py:numpy
exec /usr/bin/python3 "$(dirname "$0")/units_check.py" "$VOG_FIXTURE_DIR/aacenc"
