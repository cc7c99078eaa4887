#!/usr/bin/env bash
# Test inputs of the wave-file functions, made at test time: WAVE, Wave64
# and AIFF files written by sox, ffmpeg and Python, with what ffprobe (rate,
# channels, bits, frames) and an independent chunk walker (the sample data's
# offset) report of them.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
out="$1/wavfile"
rm -rf "$out"
mkdir -p "$out/out"
py=/usr/bin/python3
ff() { ffmpeg -nostdin -v error -y "$@"; }
sine="sine=f=440:r=44100:d=2"
n=4410
# name: accepted by the format probe (1) or refused (0)
sox -q -r 44100 -c 2 -n -b 16 "$out/sox_s16.wav" synth "${n}s" sine 440 vol 0.5
sox -q -r 96000 -c 2 -n -b 24 "$out/sox_s24.wav" synth 9601s sine 440 vol 0.5
sox -q -r 48000 -c 6 -n -b 16 "$out/sox_6ch.wav" synth 4801s sine 440 vol 0.5
sox -q -r 48000 -c 1 -n -e floating-point -b 32 "$out/sox_f32.wav" synth 4803s sine 440 vol 0.5
sox -q -r 22050 -c 1 -n -b 8 "$out/sox_u8.wav" synth 2205s sine 440 vol 0.5
sox -q -r 44100 -c 2 -n -b 16 "$out/sox_s16.w64" synth "${n}s" sine 440 vol 0.5
sox -q -r 192000 -c 1 -n -b 24 "$out/sox_s24.w64" synth 19201s sine 440 vol 0.5
sox -q -r 44100 -c 2 -n -b 16 "$out/sox_s16.aiff" synth "${n}s" sine 440 vol 0.5
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -ac 2 -c:a pcm_s16le "$out/ff_s16.wav"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -c:a pcm_f32le "$out/ff_f32.wav"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n,pan=5.1(side)|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0" -c:a pcm_s24le \
  "$out/ff_51side.wav"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -ac 2 -c:a pcm_s16le "$out/ff_s16.w64"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -ac 2 -c:a pcm_s16be "$out/ff_s16be.aiff"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -ac 2 -c:a pcm_s16le -f aiff "$out/ff_sowt.aiff"
$py - "$out/py_s16.wav" <<'PY'
import wave, sys, math, struct
w = wave.open(sys.argv[1], 'wb'); w.setnchannels(1); w.setsampwidth(2); w.setframerate(22050)
w.writeframes(b''.join(struct.pack('<h', int(8000 * math.sin(i / 7))) for i in range(2205)))
w.close()
PY
# Compressed formats: identified as WAVE only when compressed ones are allowed.
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -ac 2 -c:a adpcm_ima_wav "$out/ff_ima.wav"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -c:a pcm_alaw "$out/ff_alaw.wav"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -c:a libmp3lame -b:a 64k "$out/ff_mp3.wav"
ff -f lavfi -i "$sine" -af "atrim=end_sample=$n" -c:a pcm_f32be "$out/ff_fl32.aiff"

# name kind tag channels rate bits frames dataOffset (kind: wav, w64, aiff; tag
# as the probe reports it, "-" when the probe refuses the file).
: > "$out/cases.txt"
for f in "$out"/*.wav "$out"/*.w64 "$out"/*.aiff; do
  name=$(basename "$f")
  p=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,channels,sample_rate,bits_per_sample,duration_ts \
      -of default=nw=1 "$f")
  get() { echo "$p" | awk -F= -v k="$1" '$1==k {print $2}'; }
  codec=$(get codec_name)
  case "$codec" in
    pcm_s16le|pcm_s24le|pcm_u8) tag=1 ;;
    pcm_f32le) tag=3 ;;
    pcm_s16be) tag=0xFE02 ;;
    *) tag=- ;;
  esac
  case "$name" in *.aiff) kind=aiff ;; *.w64) kind=w64 ;; *) kind=wav ;; esac
  [ "$kind" = aiff ] && [ "$codec" = pcm_s16le ] && tag=1
  # Extensible headers keep their tag 0xFFFE.
  read -r off ext < <($py - "$f" "$kind" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
kind = sys.argv[2]
ext = 0
if kind == 'wav':
    pos = 12
    while pos + 8 <= len(d):
        cid, n = struct.unpack('<4sI', d[pos:pos + 8])
        if cid == b'fmt ' and struct.unpack('<H', d[pos + 8:pos + 10])[0] == 0xFFFE: ext = 1
        if cid == b'data': print(pos + 8, ext); break
        pos += 8 + n + (n & 1)
elif kind == 'w64':
    pos = 40
    while pos + 24 <= len(d):
        gid = d[pos:pos + 16]; n = struct.unpack('<Q', d[pos + 16:pos + 24])[0]
        if gid[:4] == b'fmt ' and struct.unpack('<H', d[pos + 24:pos + 26])[0] == 0xFFFE: ext = 1
        if gid[:4] == b'data': print(pos + 24, ext); break
        pos += (n + 7) & ~7
else:
    pos = 12
    while pos + 8 <= len(d):
        cid, n = struct.unpack('>4sI', d[pos:pos + 8])
        if cid == b'SSND': print(pos + 16 + struct.unpack('>I', d[pos + 8:pos + 12])[0], 0); break
        pos += 8 + n + (n & 1)
PY
)
  [ "$ext" = 1 ] && [ "$tag" != - ] && tag=0xFFFE
  echo "$name $kind $tag $(get channels) $(get sample_rate) $(get bits_per_sample) $(get duration_ts) $off" >> "$out/cases.txt"
done
echo "fixtures in $out: $(wc -l < "$out/cases.txt") cases"
