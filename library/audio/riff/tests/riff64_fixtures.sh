#!/usr/bin/env bash
# Wave64 inputs made at test time: a stereo 16-bit sine as WAV and raw PCM,
# and its Wave64 forms as ffmpeg and sox write them.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg sox
out="$1/riff64"
rm -rf "$out"
mkdir -p "$out/written"
# 10006 frames: 40,024 data bytes (a multiple of 8, and more than 4,096).
# Two different channels, so that a swap or an offset shows.
ffmpeg -v error -y -f lavfi -i "aevalsrc=0.5*sin(2*PI*441*t)|0.3*sin(2*PI*660*t+1):s=44100:d=1" \
  -af "atrim=end_sample=10006" -c:a pcm_s16le "$out/source.wav"
ffmpeg -v error -y -i "$out/source.wav" -f s16le -c:a pcm_s16le "$out/source.raw"
ffmpeg -v error -y -i "$out/source.wav" -f w64 "$out/ffmpeg.w64"
sox "$out/source.wav" -t w64 "$out/sox.w64"
size=$(stat -c %s "$out/source.raw")
[ "$size" -eq 40024 ] || { echo "unexpected PCM size $size"; exit 1; }
