#!/usr/bin/env bash
# Test inputs of the IFF/AIFF functions, made at test time: AIFF and AIFC
# files written by sox, ffmpeg and Python's aifc over a table of rates, with
# what ffprobe (format fields, frames) and an independent chunk walker (the
# sample data's offset) report of them; 80-bit rates as Python's aifc
# encodes them; a file with markers.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
out="$1/iff"
rm -rf "$out"
mkdir -p "$out/out"
py=/usr/bin/python3
rates="8000 11025 22050 44100 48000 96000 192000 352800 384000"
i=0
for r in $rates; do
  i=$((i + 1))
  n=$((1000 + r / 200 + i))     # frames: differ per file, odd and even
  sox -q -r "$r" -c 2 -n -b 16 "$out/sox16_$r.aiff" synth "${n}s" sine 440 vol 0.5
  sox -q -r "$r" -c 1 -n -b 24 "$out/sox24_$r.aifc" synth "${n}s" sine 440 vol 0.5
  sox -q -r "$r" -c 3 -n -b 32 "$out/sox32_$r.aiff" synth "${n}s" sine 440 vol 0.5
  lav="sine=f=440:r=$r:d=2"
  ffmpeg -v error -y -f lavfi -i "$lav" -af "atrim=end_sample=$n" -ac 2 -c:a pcm_s16be "$out/ff16be_$r.aiff"
  ffmpeg -v error -y -f lavfi -i "$lav" -af "atrim=end_sample=$n" -ac 2 -c:a pcm_s16le -f aiff "$out/ffsowt_$r.aiff"
  ffmpeg -v error -y -f lavfi -i "$lav" -af "atrim=end_sample=$n" -c:a pcm_s8 "$out/ff8_$r.aiff"
  ffmpeg -v error -y -f lavfi -i "$lav" -af "atrim=end_sample=$n" -ac 6 -c:a pcm_s24be "$out/ff24_$r.aiff"
done
# Compressed AIFC forms that must be refused.
ffmpeg -v error -y -f lavfi -i sine=d=0.05 -c:a pcm_f32be "$out/fl32.aiff"
ffmpeg -v error -y -f lavfi -i sine=d=0.05 -c:a pcm_alaw -f aiff "$out/alaw.aiff"

# One line per accepted file: name codec channels rate bits frames dataOffset.
: > "$out/cases.txt"
for f in "$out"/sox*_*.ai* "$out"/ff16be_* "$out"/ffsowt_* "$out"/ff8_* "$out"/ff24_*; do
  p=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,channels,sample_rate,bits_per_sample,duration_ts \
      -of default=nw=1 "$f")
  get() { echo "$p" | awk -F= -v k="$1" '$1==k {print $2}'; }
  off=$($py - "$f" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
pos = 12
while pos + 8 <= len(d):
    cid, size = struct.unpack('>4sI', d[pos:pos + 8])
    if cid == b'SSND':
        off, _ = struct.unpack('>II', d[pos + 8:pos + 16])
        print(pos + 16 + off)
        break
    pos += 8 + size + (size & 1)
PY
)
  echo "$(basename "$f") $(get codec_name) $(get channels) $(get sample_rate) $(get bits_per_sample) $(get duration_ts) $off" >> "$out/cases.txt"
done

# 80-bit rates as Python's aifc writes them: rate exponent w0 w1 w2 w3 (hex).
$py -W ignore - "$out/rates.txt" <<'PY'
import aifc, io, struct, sys
rates = [1, 2, 3, 100, 1000, 4000, 8000, 11025, 16000, 22050, 32000, 44056, 44100, 47952, 48000, 88200,
         96000, 176400, 192000, 352800, 384000, 705600, 768000, 2822400, 5644800, 12345678, 4294967295]
with open(sys.argv[1], 'w') as f:
    for r in rates:
        b = io.BytesIO()
        aifc._write_float(b, r)
        v = struct.unpack('>5H', b.getvalue())
        f.write('%d %s\n' % (r, ' '.join('%04x' % x for x in v)))
PY

# Markers written by Python's aifc: ids 1, 2, 7 with names of odd and even length.
$py -W ignore - "$out/markers.aiff" <<'PY'
import aifc, sys
w = aifc.open(sys.argv[1], 'wb')
w.aiff()
w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
w.writeframes(bytes(2000))
w.setmark(1, 10, b'start')
w.setmark(2, 500, b'mi')
w.setmark(7, 999, b'')
w.close()
PY
echo "fixtures in $out: $(wc -l < "$out/cases.txt") cases"
