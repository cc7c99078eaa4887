#!/usr/bin/env bash
# Media files for the metadata-chunk tests, made at test time: a 3-second
# stereo WAV without any metadata, its Wave64 and AIFF forms (ffmpeg), and the
# PCM md5 of each, so that the checks after the writes can show that the
# audio is untouched.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg
out="$1/metachunks"
rm -rf "$out"
mkdir -p "$out/written"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=3:sample_rate=44100" -ac 2 -c:a pcm_s16le \
  -fflags +bitexact -map_metadata -1 "$out/plain.wav"
ffmpeg -v error -y -i "$out/plain.wav" -c:a pcm_s16le -f w64 "$out/plain.w64"
ffmpeg -v error -y -i "$out/plain.wav" -c:a pcm_s16be -fflags +bitexact -map_metadata -1 "$out/plain.aiff"
for f in plain.wav plain.w64 plain.aiff; do
  ffmpeg -v error -i "$out/$f" -map 0:a -c:a pcm_s16le -f md5 - > "$out/$f.md5"
done
