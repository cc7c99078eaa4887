#!/usr/bin/env bash
# SBR encodes (types 5 and 29) from a source at a rate other than the
# encoder's: the converter in front of the SBR encoder keeps pitch and
# length. ffmpeg decodes each stream without a word (-err_detect explode
# -xerror) at the encoder's rate; a 1 kHz tone stays within 0.1%, and the
# decode (no edit list on SBR streams) is the source plus the encoder's delay
# that aacenc reports, padded to less than one more frame.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe py:numpy
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# source rate  type  bitrate  channel mode  encoder rate
cases="
96000 5  32000 2  48000
48000 29 16000 64 32000
96000 29 24000 64 48000
44100 5  16000 1  32000
22050 5  48000 2  44100
"
while read -r src aot bitrate mode want; do
  [ -z "$src" ] && continue
  name="${src}_${aot}_${bitrate}"
  ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=1000:duration=3:sample_rate=$src" -ac 2 \
    -c:a pcm_s16le "$out/src.wav"
  if ! run_build_tool aacenc "$out/src.wav" "$out/$name.m4a" --aot "$aot" --bitrate "$bitrate" --mode "$mode" \
       >"$out/log" 2>&1; then
    fail "$name: aacenc: $(cat "$out/log")"
    continue
  fi
  delay=$(sed -n 's/.*delay \([0-9]*\),.*/\1/p' "$out/log")
  ffmpeg -nostdin -v error -err_detect explode -xerror -i "$out/$name.m4a" -f f32le "$out/dec.f32" -y 2>"$out/err"
  if [ -s "$out/err" ]; then
    fail "$name: ffmpeg: $(head -c 300 "$out/err")"
    continue
  fi
  got=$(ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 "$out/$name.m4a")
  [ "${got%%,*}" = "$want" ] || { fail "$name: stream at $got, not $want Hz"; continue; }
  channels=${got##*,}
  msg=$(/usr/bin/python3 - "$out/dec.f32" "$want" "$channels" "$src" "$delay" <<'PY'
import sys
import numpy as np
path, rate, ch, src, delay = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
y = np.fromfile(path, "<f4").reshape(-1, ch)[:, 0]
seg = y[len(y) // 4:len(y) // 4 + rate]
spec = np.abs(np.fft.rfft(seg * np.hanning(len(seg)), 8 * len(seg)))
tone = np.argmax(spec) * rate / (8.0 * len(seg))
expected = 3.0 + delay / float(src)
length = len(y) / float(rate)
print("tone %.2f Hz, %.4f s decoded for %.4f s of source and delay" % (tone, length, expected))
ok = abs(tone - 1000.0) <= 1.0 and expected <= length + 1.0 / rate < expected + 2048.0 / rate
sys.exit(0 if ok else 1)
PY
  ) || fail "$name: $msg"
  echo "$name: $msg"
done <<<"$cases"
exit $status
