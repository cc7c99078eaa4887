#!/usr/bin/env bash
# AIFF files written by the IFF family (kviff_tests) decode in ffmpeg and sox
# to exactly the sample bytes that were written, with the rate and channels
# written; a file with a chunk deleted decodes to the original's samples.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
dir="$VOG_FIXTURE_DIR/iff/out"
fail=0
expect() {  # what, got, want
  if [ "$2" != "$3" ]; then echo "FAIL $1: got '$2', want '$3'"; fail=1; else echo "ok   $1: $2"; fi
}
probe() { ffprobe -v error -select_streams a:0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$1" | tr '\n' ' ' | sed 's/ $//'; }
sx() { sox --i "$1" 2>/dev/null | awk -F': *' -v k="$2" '$1 ~ k {print $2}' | head -1; }
md5() { md5sum | cut -d' ' -f1; }

# name ffmpeg-format sox-options rate channels
while read -r name fmt soxopt rate ch; do
  f="$dir/$name.aiff"
  [ -f "$f" ] || { echo "FAIL $name: not written"; fail=1; continue; }
  want=$(md5 < "$dir/$name.raw")
  expect "$name ffprobe" "$(probe "$f" sample_rate,channels)" "$rate $ch"
  expect "$name ffmpeg pcm" "$(ffmpeg -nostdin -v error -i "$f" -f "$fmt" - | md5)" "$want"
  expect "$name sox rate/channels" "$(sx "$f" 'Sample Rate') $(sx "$f" Channels)" "$rate $ch"
  # shellcheck disable=SC2086
  expect "$name sox pcm" "$(sox -V1 "$f" $soxopt -t raw - < /dev/null | md5)" "$want"
done <<'LIST'
ours_s16_44100 s16be -B 44100 2
ours_s24_96000 s24be -B 96000 1
ours_s8_22050 s8 -es 22050 1
ours_s32_8000 s32be -B 8000 3
ours_sowt_48000 s16le -L 48000 2
ours_s16_384000 s16be -B 384000 2
LIST

# Deleted chunk: same samples as the original, chunk list without it.
orig="$VOG_FIXTURE_DIR/iff/sox16_44100.aiff"
del="$dir/del_comt.aiff"
expect "delete: ffmpeg pcm" "$(ffmpeg -nostdin -v error -i "$del" -f s16be - | md5)" "$(ffmpeg -nostdin -v error -i "$orig" -f s16be - | md5)"
expect "delete: sox pcm" "$(sox -V1 "$del" -t raw - | md5)" "$(sox -V1 "$orig" -t raw - | md5)"
expect "delete: chunks" "$(/usr/bin/python3 - "$del" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
form, size, kind = struct.unpack('>4sI4s', d[:12])
ids, pos = [], 12
while pos + 8 <= len(d):
    cid, n = struct.unpack('>4sI', d[pos:pos + 8])
    ids.append(cid.decode())
    pos += 8 + n + (n & 1)
print(form.decode(), size + 8 == len(d), kind.decode(), ' '.join(ids), pos == len(d))
PY
)" "FORM True AIFF COMM SSND True"
exit $fail
