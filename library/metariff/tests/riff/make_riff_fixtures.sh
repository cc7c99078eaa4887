#!/usr/bin/env bash
# Inputs of the summary-list and project-link tests, made at test time:
# a WAV with a "LIST" "INFO" list written by ffmpeg (and Python's reading of
# that list), a WAV without any list, its Wave64 form, and the PCM md5 of each.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg
out="$1/metariff"
rm -rf "$out"
mkdir -p "$out/written"
src="sine=frequency=440:duration=0.5:sample_rate=44100"
ffmpeg -v error -y -f lavfi -i "$src" -ac 2 -c:a pcm_s16le \
  -metadata title="Night Train" -metadata artist="The Porters" -metadata comment="first take" \
  -metadata date=2024 -metadata genre=Blues -metadata copyright="C 2024 Porters" "$out/info.wav"
ffmpeg -v error -y -f lavfi -i "$src" -ac 2 -c:a pcm_s16le -fflags +bitexact -map_metadata -1 "$out/plain.wav"
ffmpeg -v error -y -i "$out/plain.wav" -c:a pcm_s16le -f w64 "$out/plain.w64"
for f in info.wav plain.wav plain.w64; do
  ffmpeg -v error -i "$out/$f" -map 0:a -c:a pcm_s16le -f md5 - > "$out/$f.md5"
done
# The INFO list as Python's own walk of the file reads it: one "ID=text" per line.
/usr/bin/python3 - "$out/info.wav" "$out/info.expected" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
lines = []
pos = 12
while pos + 8 <= len(data):
    cid, size = struct.unpack('<4sI', data[pos:pos + 8])
    if cid == b'LIST' and data[pos + 8:pos + 12] == b'INFO':
        p, end = pos + 12, pos + 8 + size
        while p + 8 <= end:
            sid, ssize = struct.unpack('<4sI', data[p:p + 8])
            text = data[p + 8:p + 8 + ssize].split(b'\0')[0].decode('latin-1')
            lines.append(sid.decode() + '=' + text)
            p += 8 + ssize + (ssize & 1)
    pos += 8 + size + (size & 1)
if len(lines) < 6:
    sys.exit('ffmpeg wrote no INFO list')
open(sys.argv[2], 'w').write('\n'.join(lines) + '\n')
PY
