#!/usr/bin/env bash
# Files edited by the riff_ functions (written by kvriff_tests into the
# fixture folder) still decode to the same PCM in ffmpeg and sox, and their
# chunk lists, as Python's struct walk sees them, are the expected ones.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
dir="$VOG_FIXTURE_DIR/riff"
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
# The layout without offsets: ids, sizes and texts, one line per item.
shape() { $py "$here/riff_chunks.py" "$1" | awk '$1=="riff"{print $1,$2,($3+8==$4)?"size-ok":"size-bad"; next} $1=="entry"{print $1,$2,$3,$5,$6; next} {print $1,$2,$4}' | tr '\n' ';'; }
soxmd5() { sox "$1" -t raw - 2>/dev/null | md5sum | cut -d' ' -f1; }
title() { ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 "$1"; }

check() {  # edited file, original, expected shape
  local out="$dir/out/$1" orig="$dir/$2.wav"
  if [ ! -f "$out" ]; then
    echo "FAIL $1: not written"
    fail=1
    return
  fi
  expect "$1 ffmpeg md5" "$(ffmpeg -v error -i "$out" -f md5 -)" "$(cat "$dir/$2.md5")"
  expect "$1 sox md5" "$(soxmd5 "$out")" "$(soxmd5 "$orig")"
  expect "$1 chunks" "$(shape "$out")" "$3"
}

check ffmpeg_noinfo.wav ffmpeg_info "riff WAVE size-ok;chunk fmt_ 16;chunk data 44100;"
expect "ffmpeg_noinfo.wav title" "$(title "$dir/out/ffmpeg_noinfo.wav")" ""
check sox_s24_nofact.wav sox_s24_fact "riff WAVE size-ok;chunk fmt_ 40;chunk data 14400;"
check sox_u8_appended.wav sox_u8_odd \
  "riff WAVE size-ok;chunk fmt_ 16;chunk data 2207;chunk test 5;list INFO 30;entry INFO INAM 9 417070656e646564;entry INFO IART 3 4d65;"
expect "sox_u8_appended.wav title" "$(title "$dir/out/sox_u8_appended.wav")" "Appended"
expect "ffmpeg_info.wav title" "$(title "$dir/ffmpeg_info.wav")" "Riff Title"

# Every riff_ export of the fragment is in the DLL under its decorated name
# (its plain name in the 64-bit build).
if [ "$VOG_WIN32" = "ON" ]; then
  missing=$($py - "$VOG_BIN_DIR/vogaac2.dll" "$here/../kvriff_exports.def" "$VOG_SOURCE_DIR/library/base/tests" <<'PY'
import sys, pefile
sys.path.insert(0, sys.argv[3])
from kvexports import name_on_x64
pe = pefile.PE(sys.argv[1])
names = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name}
x64 = pe.FILE_HEADER.Machine == 0x8664
want = [l.split("=")[0].strip() for l in open(sys.argv[2]) if "=" in l]
print(" ".join(w for w in want if (name_on_x64(w) if x64 else w) not in names) or "none", len(want))
PY
)
  expect "DLL exports" "$missing" "none 29"
fi
exit $fail
