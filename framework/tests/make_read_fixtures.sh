#!/usr/bin/env bash
# Test inputs of the read road, made with ffmpeg: AAC-LC files for mono,
# stereo and 5.1 at four rates (PNS off, so that decoders agree), each with
# ffmpeg's float decode of every unit (edit list ignored) and ffprobe's
# duration in media units.
#   make_read_fixtures.sh FIXTURE_DIR [SHARED_DIR]
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe
out="$1/readroad"
shared="${2:-$(cd "$(dirname "$0")/../../.." && pwd)/shared}"
mkdir -p "$out"
cd "$out"
for rate in 22050 32000 44100 48000; do
  for layout in mono stereo 5.1; do
    case $layout in
      mono) ch=1; exprs="0.5*sin(2*PI*440*t)"; br=64k ;;
      stereo) ch=2; exprs="0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t)+0.05*sin(2*PI*5000*t)"; br=128k ;;
      5.1) ch=6; exprs="0.5*sin(2*PI*440*t)|0.4*sin(2*PI*550*t)|0.3*sin(2*PI*660*t)|0.2*sin(2*PI*60*t)|0.3*sin(2*PI*880*t)|0.3*sin(2*PI*990*t)"; br=320k ;;
    esac
    name="lc_${ch}ch_${rate}"
    [ -s "$name.m4a" ] && [ -s "$name.f32" ] && [ -s "$name.txt" ] && continue
    ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs=${exprs}:s=${rate}:d=1.5" -channel_layout "$layout" \
      -c:a aac -aac_pns 0 -b:a "$br" "$name.m4a"
    ffmpeg -v error -y -ignore_editlist 1 -i "$name.m4a" -f f32le "$name.f32"
    ts=$(ffprobe -v error -ignore_editlist 1 -select_streams a:0 -show_entries stream=duration_ts \
      -of default=nw=1:nk=1 "$name.m4a")
    echo "$ch $rate $ts" > "$name.txt"
  done
done

# The plain one-second file of the documentation (45124 media units).
if [ ! -s sine_1s.m4a ]; then
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=1:sample_rate=44100" -ac 2 -c:a aac -aac_pns 0 sine_1s.m4a
fi

# The stereo 44.1 kHz file with its 'mp4a' sample-size field set to 24 (the
# decoded samples are 16-bit whatever that field says).
/usr/bin/python3 - <<'PY'
data = bytearray(open("lc_2ch_44100.m4a", "rb").read())
at = data.find(b"mp4a")
assert at > 0 and data[at + 22:at + 24] == b"\x00\x10"
data[at + 22:at + 24] = b"\x00\x18"
open("lc_2ch_44100_size24.m4a", "wb").write(data)
PY

# HE-AAC vectors from the shared folder (zero-length-mdat.m4a: backward-
# compatible explicit signalling of SBR without PS, media data to the file's end), with heaac.mp4's configuration
# patched in place to the AOT 29 and the implicit forms; for each, ffprobe's
# rate and channels and ffmpeg's float decode (edit list ignored).
vectors="${shared}/vectors/mp4"
if [ -d "$vectors" ]; then
  cp -f "$vectors/heaac.mp4" he_explicit.mp4
  cp -f "$vectors/heaac-3frame_remux.m4a" he_3frame.m4a
  cp -f "$vectors/truncated_remux.m4a" he_truncated.m4a
  cp -f "$vectors/zero-length-mdat.m4a" he_zero_length_mdat.m4a
  chmod u+w he_*.m4a he_*.mp4
  /usr/bin/python3 - <<'PY'
data = open("he_explicit.mp4", "rb").read()
asc = bytes([0x2D, 0x8C, 0x08, 0x00])
tag = bytes([0x05, 0x80, 0x80, 0x80, 0x04])  # Decoder Specific Info, 4 bytes
for name, repl in (("he_aot29.mp4", bytes([0xED, 0x8C, 0x08, 0x00])), ("he_implicit.mp4", bytes([0x15, 0x88, 0x00, 0x00]))):
    open(name, "wb").write(data.replace(tag + asc, tag + repl))
PY
  : >he_list.txt
  for f in he_explicit.mp4 he_aot29.mp4 he_implicit.mp4 he_3frame.m4a he_truncated.m4a he_zero_length_mdat.m4a; do
    ffmpeg -v error -y -ignore_editlist 1 -i "$f" -f f32le "$f.f32"
    info=$(ffprobe -v error -ignore_editlist 1 -select_streams a:0 -show_entries stream=sample_rate,channels \
      -of default=nw=1:nk=1 "$f" | tr '\n' ' ')
    echo "$f $info" >>he_list.txt
  done
fi

# Damaged variants of the stereo 44.1 kHz file (the container library's
# patcher): sizes and chunk tables that claim 0xFFFFFFFF samples (units padded
# to one size), the file cut halfway through unit 21, and the configuration
# 12 12 (dependsOnCoreCoder with no delay after it).
patch="$(cd "$(dirname "$0")/../../mp4/tests" && pwd)/patch_mp4.py"
if [ ! -s damaged_asc.m4a ] || [ damaged_asc.m4a -ot "$patch" ]; then
  /usr/bin/python3 "$patch" huge lc_2ch_44100.m4a damaged_huge.m4a
  /usr/bin/python3 "$patch" cut 20 lc_2ch_44100.m4a damaged_cut.m4a
  /usr/bin/python3 "$patch" asc 1212 lc_2ch_44100.m4a damaged_asc.m4a
fi
