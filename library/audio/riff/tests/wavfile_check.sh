#!/usr/bin/env bash
# Wave files whose headers the wave-file functions wrote (created, inserted,
# repaired, format changed) are read by ffprobe and sox with the right rate,
# channels and sample type, and decode to exactly the sample bytes expected.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
dir="$VOG_FIXTURE_DIR/wavfile/out"
fail=0
expect() {  # what, got, want
  if [ "$2" != "$3" ]; then echo "FAIL $1: got '$2', want '$3'"; fail=1; else echo "ok   $1: $2"; fi
}
probe() { ffprobe -v error -select_streams a:0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$1" | tr '\n' ' ' | sed 's/ $//'; }
sx() { sox --i "$1" 2>/dev/null | awk -F': *' -v k="$2" '$1 ~ k {print $2}' | head -1; }
md5() { md5sum | cut -d' ' -f1; }

# name codec rate channels raw-format sox-encoding
while read -r name codec rate ch fmt enc; do
  f="$dir/$name"
  [ -f "$f" ] || { echo "FAIL $name: not written"; fail=1; continue; }
  expect "$name ffprobe" "$(probe "$f" codec_name,sample_rate,channels)" "$codec $rate $ch"
  expect "$name ffmpeg pcm" "$(ffmpeg -nostdin -v error -i "$f" -c:a copy -f "$fmt" - | md5)" "$(md5 < "$f.raw")"
  expect "$name sox" "$(sx "$f" 'Sample Rate') $(sx "$f" Channels) $(sx "$f" 'Sample Encoding')" "$rate $ch $enc"
  # sox passes samples through 32-bit integers: float bytes do not survive.
  case "$enc" in *Float*) ;; *)
    expect "$name sox pcm" "$(sox -V1 "$f" -t raw - < /dev/null | md5)" "$(md5 < "$f.raw")" ;;
  esac
done <<'LIST'
ours_s16.wav pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
ours_s24.wav pcm_s24le 96000 1 s24le 24-bit Signed Integer PCM
ours_f32.wav pcm_f32le 48000 2 f32le 32-bit Floating Point PCM
ours_u8.wav pcm_u8 22050 1 u8 8-bit Unsigned Integer PCM
ours_6ch.wav pcm_s16le 48000 6 s16le 16-bit Signed Integer PCM
ours_s16.w64 pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
ours_s24.w64 pcm_s24le 192000 1 s24le 24-bit Signed Integer PCM
ours_f64.w64 pcm_f64le 44100 2 f64le 64-bit Floating Point PCM
fix_sox_s16.wav pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
fix_sox_cut.wav pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
fix_ff_s16.wav pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
fix_sox_f32.wav pcm_f32le 48000 1 f32le 32-bit Floating Point PCM
fix_sox_s16.w64 pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
fix_ff_s16.w64 pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
fix_ours_s24.w64 pcm_s24le 192000 1 s24le 24-bit Signed Integer PCM
fix_ours_s24.wav pcm_s24le 96000 1 s24le 24-bit Signed Integer PCM
fix_crash.wav pcm_s16le 44100 2 s16le 16-bit Signed Integer PCM
LIST

# Formats changed in place: the new format is what the readers see, the
# sample bytes are the original's.
src="$VOG_FIXTURE_DIR/wavfile"
expect "set_ext.wav ffprobe" "$(probe "$dir/set_ext.wav" codec_name,sample_rate,channels)" "pcm_s16le 32000 3"
expect "set_ext.wav sox" "$(sx "$dir/set_ext.wav" 'Sample Rate') $(sx "$dir/set_ext.wav" Channels)" "32000 3"
expect "set_ext.wav bytes" "$(ffmpeg -nostdin -v error -i "$dir/set_ext.wav" -c:a copy -f s16le - | md5)" \
  "$(ffmpeg -nostdin -v error -i "$src/sox_s24.wav" -c:a copy -f s24le - | md5)"
expect "set.aiff ffprobe" "$(probe "$dir/set.aiff" codec_name,sample_rate,channels)" "pcm_s32be 22050 1"
expect "set.aiff sox" "$(sx "$dir/set.aiff" 'Sample Rate') $(sx "$dir/set.aiff" Channels) $(sx "$dir/set.aiff" Precision)" \
  "22050 1 32-bit"
expect "set.aiff bytes" "$(ffmpeg -nostdin -v error -i "$dir/set.aiff" -c:a copy -f s32be - | md5)" \
  "$(ffmpeg -nostdin -v error -i "$src/sox_s16.aiff" -c:a copy -f s16be - | md5)"
exit $fail
