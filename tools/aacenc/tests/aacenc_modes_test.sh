#!/usr/bin/env bash
# The all-single-channel and all-pair channel modes (16-24) through aacenc,
# as MP4 files and ADTS streams, from WAVs with a tone of its own in every
# channel: the program config element spreads the elements over the front,
# side and back so that a decoder gives each channel a speaker of its own.
# ffmpeg decodes them without a word to that many channels with a layout of
# that count, and faad plays the ADTS streams to that many channels; in each
# decode every source tone leads exactly one output channel. ffmpeg 5.1
# keeps only four channels of four front, side and back pairs however they
# are placed, and of the twelve-channel modes 20 (twelve single channels)
# and 24 (six pairs) it keeps eight and four (faad keeps all), so modes 23,
# 20 and 24 are judged by faad alone. The twelve-channel sources come as
# ffmpeg writes them (16-bit, extensible format chunk) for mode 20 and as a
# plain 32-bit float WAV for mode 24.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe faad py:numpy
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# judge PCM CHANNELS: each output channel's strongest frequency is a distinct
# source tone (400 + 300 k Hz for input channel k).
judge() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import sys
import numpy as np
y = np.fromfile(sys.argv[1], "<f4").reshape(-1, int(sys.argv[2]))
rate = 48000
seg = y[rate // 2:rate]
found = []
for c in range(y.shape[1]):
    spec = np.abs(np.fft.rfft(seg[:, c] * np.hanning(len(seg))))
    f = np.argmax(spec) * rate / float(len(seg))
    k = int(round((f - 400.0) / 300.0))
    found.append(k if abs(f - (400.0 + 300.0 * k)) < 5.0 else -1)
print("input channel of each output channel: %s" % found)
sys.exit(0 if sorted(found) == list(range(y.shape[1])) else 1)
PY
}

# mode  channels  ffmpeg judges (1) or faad alone (0)  source: ffmpeg's 16-bit
# WAV (s16) or a plain float one (f32)
cases="
16 2 1 s16
17 4 1 s16
18 6 1 s16
19 8 1 s16
20 12 0 s16
21 4 1 s16
22 6 1 s16
23 8 0 s16
24 12 0 f32
"
while read -r mode n withffmpeg source; do
  [ -z "$mode" ] && continue
  if [ "$source" = f32 ]; then
    PYTHONPATH="$VOG_SOURCE_DIR/tools/aacenc/tests" /usr/bin/python3 - "$out/src.wav" "$n" <<'PY' ||
import sys
import numpy as np
from make_sources import write_wav
n = int(sys.argv[2])
t = np.arange(2 * 48000) / 48000.0
write_wav(sys.argv[1], np.stack([0.1 * np.sin(2 * np.pi * (400 + 300 * k) * t) for k in range(n)], axis=1), 48000)
PY
      { fail "mode $mode: source"; continue; }
  else
    ffmpeg -nostdin -v error -y $(for k in $(seq 0 $((n - 1))); do
        printf -- '-f lavfi -i sine=frequency=%d:duration=2:sample_rate=48000 ' $((400 + 300 * k)); done) \
      -filter_complex "amerge=inputs=$n" -c:a pcm_s16le "$out/src.wav" 2>"$out/err" ||
      { fail "mode $mode: source: $(head -c 200 "$out/err")"; continue; }
  fi
  for ext in m4a aac; do
    f="$out/mode$mode.$ext"
    if ! run_build_tool aacenc "$out/src.wav" "$f" --mode "$mode" --bitrate $((n * 64000)) >"$out/log" 2>&1; then
      fail "mode $mode .$ext: aacenc: $(cat "$out/log")"
      continue
    fi
    if [ "$withffmpeg" = 1 ]; then
      ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f" -f f32le "$out/dec.f32" -y 2>"$out/err"
      [ -s "$out/err" ] && { fail "mode $mode .$ext: ffmpeg: $(head -c 300 "$out/err")"; continue; }
      probe=$(ffprobe -v error -show_entries stream=channels,channel_layout -of csv=p=0 "$f")
      case "$probe" in
        "$n,stereo" | "$n,quad(side)" | "$n,$n channels "*) ;;
        *) fail "mode $mode .$ext: ffprobe says $probe"; continue ;;
      esac
      msg=$(judge "$out/dec.f32" "$n") || fail "mode $mode .$ext (ffmpeg): $msg"
      echo "mode $mode .$ext (ffmpeg, $probe): $msg"
    fi
    [ "$ext" = aac ] || continue
    rm -f "$out/faad.wav"
    faad -o "$out/faad.wav" "$f" >"$out/flog" 2>&1
    got=$(ffprobe -v error -show_entries stream=channels -of csv=p=0 "$out/faad.wav" 2>/dev/null)
    if [ "$got" != "$n" ] || tr '\r' '\n' <"$out/flog" | grep -qi "error"; then
      fail "mode $mode: faad wrote ${got:-nothing}: $(tr '\r' '\n' <"$out/flog" | grep -v '% decoding' | tail -1)"
      continue
    fi
    ffmpeg -nostdin -v error -i "$out/faad.wav" -f f32le "$out/faad.f32" -y
    msg=$(judge "$out/faad.f32" "$n") || fail "mode $mode (faad): $msg"
    echo "mode $mode (faad): $msg"
  done
done <<<"$cases"
exit $status
