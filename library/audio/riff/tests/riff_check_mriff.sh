#!/usr/bin/env bash
# Wave images built by the mriff_ functions (written by kvmriff_tests into
# the fixture folder with their samples beside them as .raw) are read by
# ffprobe, sox and Python's wave module with the format that went in and
# the same samples.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
dir="$VOG_FIXTURE_DIR/riff/out"
here="$(cd "$(dirname "$0")" && pwd)"
py=/usr/bin/python3
fail=0
expect() {  # what, got, want
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: got '$2', want '$3'"
    fail=1
  else
    echo "ok   $1: $2"
  fi
}
probe() { ffprobe -v error -select_streams a:0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$1" | tr '\n' ' ' | sed 's/ $//'; }
pcmmd5() { ffmpeg -v error -i "$1" -c:a "$2" -f "${2#pcm_}" - | md5sum | cut -d' ' -f1; }
rawmd5() { md5sum < "$1" | cut -d' ' -f1; }
soxmd5() { sox "$1" -t raw - 2>/dev/null | md5sum | cut -d' ' -f1; }
shape() { $py "$here/riff_chunks.py" "$1" | awk '$1=="riff"{print $1,$2,($3+8==$4)?"size-ok":"size-bad"; next} $1=="entry"{print $1,$2,$3,$5,$6; next} {print $1,$2,$4}' | tr '\n' ';'; }

f="$dir/mriff_pcm16.wav"
expect "pcm16 stream" "$(probe "$f" codec_name,sample_rate,channels)" "pcm_s16le 44100 2"
expect "pcm16 samples" "$(pcmmd5 "$f" pcm_s16le)" "$(rawmd5 "$f.raw")"
expect "pcm16 sox" "$(soxmd5 "$f")" "$(rawmd5 "$f.raw")"
expect "pcm16 chunks" "$(shape "$f")" "riff WAVE size-ok;chunk fmt_ 16;chunk data 1000;chunk test 6;"
expect "pcm16 python wave" "$($py -c "
import wave,sys
w=wave.open('$f'); print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), w.readframes(1000)==open('$f.raw','rb').read())")" \
  "2 2 44100 250 True"

f="$dir/mriff_s24_51side.wav"
expect "s24 stream" "$(probe "$f" codec_name,sample_rate,channels,channel_layout)" "pcm_s24le 48000 6 5.1(side)"
expect "s24 samples" "$(pcmmd5 "$f" pcm_s24le)" "$(rawmd5 "$f.raw")"
expect "s24 sox" "$(soxmd5 "$f")" "$(rawmd5 "$f.raw")"
expect "s24 chunks" "$(shape "$f")" "riff WAVE size-ok;chunk fmt_ 40;chunk data 1818;"

f="$dir/mriff_float.wav"
expect "float stream" "$(probe "$f" codec_name,sample_rate,channels)" "pcm_f32le 32000 1"
expect "float samples" "$(pcmmd5 "$f" pcm_f32le)" "$(rawmd5 "$f.raw")"
expect "float chunks" "$(shape "$f")" "riff WAVE size-ok;chunk fmt_ 18;chunk data 308;"

f="$dir/mriff_list.wav"
expect "list stream" "$(probe "$f" codec_name,sample_rate,channels,duration_ts)" "pcm_u8 8000 1 3"
expect "list title" "$(ffprobe -v error -show_entries format_tags=title,comment -of default=nw=1:nk=1 "$f" | tr '\n' ' ')" "In Memory abc "
expect "list chunks" "$(shape "$f")" \
  "riff WAVE size-ok;chunk fmt_ 16;chunk data 3;list INFO 30;entry INFO INAM 10 496e204d656d6f7279;entry INFO ICMT 4 616263;"

if [ "$VOG_WIN32" = "ON" ]; then
  missing=$($py - "$VOG_BIN_DIR/vogaac2.dll" "$here/../kvmriff_exports.def" "$VOG_SOURCE_DIR/library/base/tests" <<'PY'
import sys, pefile
sys.path.insert(0, sys.argv[3])
from kvexports import name_on_x64
pe = pefile.PE(sys.argv[1])
names = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name}
x64 = pe.FILE_HEADER.Machine == 0x8664
want = [l.split("=")[0].strip() for l in open(sys.argv[2]) if l.strip()]
print(" ".join(w for w in want if (name_on_x64(w) if x64 else w) not in names) or "none", len(want))
PY
)
  expect "DLL exports" "$missing" "none 30"
fi
exit $fail
