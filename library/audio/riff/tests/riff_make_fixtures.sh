#!/usr/bin/env bash
# Inputs of the RIFF chunk tests, made at test time: WAV files written by
# ffmpeg (with LIST INFO metadata) and sox (odd-sized 8-bit data, 24-bit with
# a fact chunk), their layouts as Python's struct walk sees them, the decoded
# PCM of each, and a hand-made CD track file.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
out="$1/riff"
here="$(cd "$(dirname "$0")" && pwd)"
py=/usr/bin/python3
rm -rf "$out"
mkdir -p "$out/out"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=0.25" -ac 2 -c:a pcm_s16le \
  -metadata title="Riff Title" -metadata artist="An Artist" -metadata comment="odd" "$out/ffmpeg_info.wav"
sox -q -n -r 22050 -c 1 -b 8 "$out/sox_u8_odd.wav" synth 0.1001 sine 300
sox -q -n -r 48000 -c 2 -b 24 "$out/sox_s24_fact.wav" synth 0.05 sine 300
for f in ffmpeg_info sox_u8_odd sox_s24_fact; do
  $py "$here/riff_chunks.py" "$out/$f.wav" > "$out/$f.layout"
  # The data chunk's bytes as ffmpeg decodes them (same sample format).
  codec=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$out/$f.wav")
  ffmpeg -v error -y -i "$out/$f.wav" -c:a "$codec" -f "${codec#pcm_}" "$out/$f.pcm"
  ffmpeg -v error -i "$out/$f.wav" -f md5 - > "$out/$f.md5"
done
# CD track file: RIFF "CDDA" with a 24-byte "fmt " chunk (version 1, track 5,
# serial 0x1234ABCD, first sector 12345, 6789 sectors, start 02:03.04,
# length 01:30.74), 44 bytes.
$py - "$out/track05.cda" <<'PY'
import struct, sys
fmt = struct.pack("<HHIII4B4B", 1, 5, 0x1234ABCD, 12345, 6789, 4, 3, 2, 0, 74, 30, 1, 0)
data = b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt)) + b"CDDA" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
assert len(data) == 44
open(sys.argv[1], "wb").write(data)
PY
