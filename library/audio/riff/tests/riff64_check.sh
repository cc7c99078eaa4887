#!/usr/bin/env bash
# Judges the Wave64 files that riff64_tests wrote, with programs of their own:
# ffprobe must see 16-bit stereo PCM at 44.1 kHz, ffmpeg and sox must decode
# exactly the source PCM (md5), and a Python walk checks the byte layout
# (riff size = file length, chunks tiling the file at 8-byte alignment).
set -uo pipefail
dir="$VOG_FIXTURE_DIR/riff64"
w="$dir/written"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox

[ -f "$dir/source.raw" ] || { echo "fixtures absent"; exit 1; }
full=$(md5sum <"$dir/source.raw" | cut -d' ' -f1)
short=$(head -c 40020 "$dir/source.raw" | md5sum | cut -d' ' -f1)

check() {  # file, expected md5 of the PCM, its length, expected chunk list
  local f="$w/$1" want="$2" len="$3" chunks="$4"
  [ -f "$f" ] || { fail "$1 not written"; return; }
  local probe
  probe=$(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$f")
  [ "$probe" = "pcm_s16le,44100,2" ] || fail "$1: ffprobe sees '$probe'"
  local got
  got=$(ffmpeg -v error -i "$f" -f s16le -c:a pcm_s16le - | md5sum | cut -d' ' -f1)
  [ "$got" = "$want" ] || fail "$1: ffmpeg decodes PCM $got, expected $want"
  # sox reads a Wave64 data chunk to the end of the file (padding and chunks
  # after it included): only the data's own length of its output is compared.
  got=$(sox -t w64 "$f" -t raw - 2>/dev/null | head -c "$len" | md5sum | cut -d' ' -f1)
  [ "$got" = "$want" ] || fail "$1: sox decodes PCM $got, expected $want"
  got=$(/usr/bin/python3 - "$f" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
riff = bytes.fromhex("726966662e91cf11a5d628db04c10000")
names = {bytes.fromhex("666d7420f3acd3118cd100c04f8edb8a"): "fmt",
         bytes.fromhex("64617461f3acd3118cd100c04f8edb8a"): "data",
         bytes.fromhex("6a756e6bf3acd3118cd100c04f8edb8a"): "junk"}
assert b[:16] == riff, "no riff header"
assert struct.unpack_from("<Q", b, 16)[0] == len(b), "riff size is not the file length"
assert b[24:40] == bytes.fromhex("77617665f3acd3118cd100c04f8edb8a"), "form is not wave"
off, out = 40, []
while off < len(b):
    gid = b[off:off + 16]
    size = struct.unpack_from("<Q", b, off + 16)[0]
    assert size >= 24 and off + size <= len(b), "chunk at %d runs past the file" % off
    end = off + ((size + 7) & ~7)
    assert end <= len(b) and not any(b[off + size:end]), "bad padding at %d" % off
    out.append(names.get(gid, gid.hex()))
    off = end
print(" ".join(out))
PY
)
  [ "$got" = "$chunks" ] || fail "$1: chunk walk gives '$got', expected '$chunks'"
}

check scratch.w64 "$full" 40024 "fmt data"
check short.w64 "$short" 40020 "fmt data"
check junk.w64 "$full" 40024 "fmt junk data junk"
check junk_deleted.w64 "$full" 40024 "fmt data"
check ffmpeg_junk.w64 "$full" 40024 "fmt data junk"
# The source as ffmpeg decodes it, so that the md5 above means the same thing.
src=$(ffmpeg -v error -i "$dir/source.wav" -f s16le -c:a pcm_s16le - | md5sum | cut -d' ' -f1)
[ "$src" = "$full" ] || fail "source PCM differs from source.raw"
# The DLL exports the 64-bit RIFF and display-list families under their
# MSVC-style names (plain names in the 64-bit build, which has no decoration).
dll="$VOG_BIN_DIR/vogaac2.dll"
if [ -f "$dll" ]; then
  if [ "${VOG_WIN64:-OFF}" = ON ]; then
    exports=$("$VOG_OBJDUMP" -p "$dll" | grep -oE '\b(riff64|displist|displist64)_[A-Za-z]+\b' | sort -u)
    undecorate='s/^_\(.*\)@[0-9]*$/\1/'
  else
    exports=$("${VOG_OBJDUMP:-i686-w64-mingw32-objdump}" -p "$dll" | grep -oE '_(riff64|displist|displist64)_[A-Za-z]+@[0-9]+' | sort -u)
    undecorate=''
  fi
  for pair in kvriff64:34 kvdisplist:11; do
    def="$VOG_SOURCE_DIR/library/audio/riff/${pair%%:*}_exports.def"
    want=$(sed -n 's/^ *\(_[A-Za-z0-9]*_[A-Za-z]*@[0-9]*\) = .*/\1/p' "$def" | sed "$undecorate" | sort -u)
    [ "$(wc -l <<<"$want")" -eq "${pair##*:}" ] || fail "${pair%%:*}: $(wc -l <<<"$want") names, expected ${pair##*:}"
    missing=$(comm -13 <(echo "$exports") <(echo "$want"))
    [ -z "$missing" ] || fail "not exported: $missing"
  done
fi
[ "$status" -eq 0 ] && echo "riff64 files: ok"
exit $status
