#!/usr/bin/env bash
# The encoded streams of codec_encoder_end_to_end_tests against ffmpeg, the
# input signals and ffmpeg's own AAC encoder (streams_check.py).
set -euo pipefail
exec /usr/bin/python3 "$(dirname "$0")/streams_check.py" "$VOG_FIXTURE_DIR/aacenc"
