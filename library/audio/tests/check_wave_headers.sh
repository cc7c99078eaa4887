#!/usr/bin/env bash
# WAV headers written from wave-format records are read by ffprobe and sox
# with the right layout and type; fmt chunks written by sox, ffmpeg and
# Python read into records give the right fields.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox py:numpy
dir="$VOG_FIXTURE_DIR/audio/wavhdr"
rm -rf "$dir"
mkdir -p "$dir"
run() { run_build_tool kvaudio_wavtool "$@"; }
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

run write "$dir"
expect "0x3F layout" "$(probe "$dir/ours_mask3f.wav" codec_name,channels,channel_layout)" "pcm_s16le 6 5.1"
expect "0x60F layout" "$(probe "$dir/ours_mask60f.wav" codec_name,channels,channel_layout)" "pcm_s16le 6 5.1(side)"
expect "0x63F layout" "$(probe "$dir/ours_mask63f.wav" codec_name,channels,channel_layout)" "pcm_s24le 8 7.1"
expect "float plain" "$(probe "$dir/ours_float.wav" codec_name,channels)" "pcm_f32le 2"
expect "float extensible" "$(probe "$dir/ours_floatext.wav" codec_name,channels)" "pcm_f32le 2"
expect "s32" "$(probe "$dir/ours_s32.wav" codec_name,channels)" "pcm_s32le 1"
expect "u8" "$(probe "$dir/ours_u8.wav" codec_name,channels)" "pcm_u8 2"
# The 24-in-32 type carries the library's own sub-format (tag 0xFE00): ffprobe
# sees its rate and channels but knows no codec for it, sox refuses it.
expect "24-in-32 (ffprobe)" "$(probe "$dir/ours_24in32.wav" codec_name,sample_rate,channels)" "unknown 48000 2"
expect "24-in-32 (sox)" "$(sox --i "$dir/ours_24in32.wav" 2>&1 | grep -o 'type fe00' || true)" "type fe00"
sx() { sox --i "$1" 2>/dev/null | awk -F': *' -v k="$2" '$1 ~ k {print $2}' | head -1; }
expect "0x63F (sox)" "$(sx "$dir/ours_mask63f.wav" Channels) $(sx "$dir/ours_mask63f.wav" 'Sample Encoding')" "8 24-bit Signed Integer PCM"
expect "float (sox)" "$(sx "$dir/ours_floatext.wav" 'Sample Encoding')" "32-bit Floating Point PCM"
expect "u8 (sox)" "$(sx "$dir/ours_u8.wav" 'Sample Encoding')" "8-bit Unsigned Integer PCM"
# The written samples decode to the sine that went in (8-bit: within 1 LSB).
ffmpeg -v error -y -i "$dir/ours_mask63f.wav" -f f32le -c:a pcm_f32le "$dir/check.f32"
got=$(/usr/bin/python3 -c "
import numpy as np
x=np.fromfile('$dir/check.f32',dtype='<f4').reshape(-1,8)
i=np.arange(x.shape[0]); c=np.arange(8)+1
ref=0.5*np.sin(2*np.pi*440.0*np.outer(i,c)/48000)
print('ok' if np.max(np.abs(x-ref))<2**-23 else 'max err %g'%np.max(np.abs(x-ref)))")
expect "24-bit samples" "$got" "ok"

# fmt chunks of other writers (16, 18, 20 and 40 bytes) read into records.
sox -q -n -r 44100 -c 2 -b 16 "$dir/sox_s16.wav" synth 0.05 sine 440
sox -q -n -r 44100 -c 2 -b 24 "$dir/sox_s24.wav" synth 0.05 sine 440
sox -q -n -r 48000 -c 6 -b 16 "$dir/sox_6ch.wav" synth 0.05 sine 440
sox -q -n -r 48000 -c 1 -e floating-point -b 32 "$dir/sox_f32.wav" synth 0.05 sine 440 vol 0.5
ffmpeg -v error -f lavfi -i sine=d=0.05 -c:a pcm_f32le "$dir/ff_f32.wav"
ffmpeg -v error -f lavfi -i sine=d=0.05 -af "pan=5.1(side)|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0" -c:a pcm_s24le "$dir/ff_51side.wav"
ffmpeg -v error -f lavfi -i sine=d=0.05 -ac 2 -c:a adpcm_ima_wav "$dir/ff_ima.wav"
ffmpeg -v error -f lavfi -i sine=d=0.05 -af "pan=7.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0|c6=c0|c7=c0" -c:a pcm_s32le "$dir/ff_71.wav"
/usr/bin/python3 -c "
import wave
w=wave.open('$dir/py_s16.wav','wb'); w.setnchannels(1); w.setsampwidth(2); w.setframerate(22050); w.writeframes(bytes(200)); w.close()"
expect "sox 16-bit (fmt 16)" "$(run readfmt "$dir/sox_s16.wav")" "fmt=16 type=17 rate=44100 ch=2 align=4 mask=0x0 flags=0 tag=0x1 bits=16 extra=0"
expect "sox 24-bit (fmt 40)" "$(run readfmt "$dir/sox_s24.wav")" "fmt=40 type=18 rate=44100 ch=2 align=6 mask=0x3 flags=16 tag=0x1 bits=24 extra=0"
expect "sox 6 channels" "$(run readfmt "$dir/sox_6ch.wav")" "fmt=40 type=17 rate=48000 ch=6 align=12 mask=0x3f flags=16 tag=0x1 bits=16 extra=0"
expect "sox float (fmt 18)" "$(run readfmt "$dir/sox_f32.wav")" "fmt=18 type=32 rate=48000 ch=1 align=4 mask=0x0 flags=0 tag=0x3 bits=32 extra=0"
expect "ffmpeg float mono" "$(run readfmt "$dir/ff_f32.wav")" "fmt=40 type=32 rate=44100 ch=1 align=4 mask=0x4 flags=16 tag=0x3 bits=32 extra=0"
expect "ffmpeg 5.1(side)" "$(run readfmt "$dir/ff_51side.wav")" "fmt=40 type=18 rate=44100 ch=6 align=18 mask=0x60f flags=16 tag=0x1 bits=24 extra=0"
expect "ffmpeg 7.1 s32" "$(run readfmt "$dir/ff_71.wav")" "fmt=40 type=19 rate=44100 ch=8 align=32 mask=0x63f flags=16 tag=0x1 bits=32 extra=0"
expect "ffmpeg IMA ADPCM (fmt 20)" "$(run readfmt "$dir/ff_ima.wav")" "fmt=20 type=0 rate=44100 ch=2 align=1024 mask=0x0 flags=8 tag=0x11 bits=4 extra=2"
expect "python wave (fmt 16)" "$(run readfmt "$dir/py_s16.wav")" "fmt=16 type=17 rate=22050 ch=1 align=2 mask=0x0 flags=0 tag=0x1 bits=16 extra=0"
# Our own files read back.
expect "own 24-in-32" "$(run readfmt "$dir/ours_24in32.wav")" "fmt=40 type=48 rate=48000 ch=2 align=8 mask=0x3 flags=16 tag=0xfe00 bits=32 extra=0"
exit $fail
