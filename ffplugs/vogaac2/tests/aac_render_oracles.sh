#!/usr/bin/env bash
# The AAC-LC renders that aac_render_test leaves (run after vogaac2_tests):
# ffmpeg decodes each without an error; ffprobe sees AAC LC at the preset's
# rate and channels, lasting the source plus the encoder's 2624-frame delay
# (the files carry no edit list) padded to a whole 1024-frame unit; mediainfo
# reads it; and the decoded audio, aligned with the source by cross-correlation
# (GCC-PHAT), keeps a signal-to-noise ratio above the preset's floor.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe mediainfo py:numpy
dir="$VOG_FIXTURE_DIR/aacrender"
list="$dir/renders.txt"
pass=0
fail=0
check() {
  if [ "$2" == "$3" ]; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL $1: expected '$2', got '$3'"; fi
}
if [ ! -s "$list" ]; then
  echo "FAIL: $list missing"
  echo "0 passed, 1 failed"
  exit 1
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
while read -r base srcch frames rate ch bitrate; do
  bitrate=${bitrate%$'\r'}
  name=$(basename "$base")
  f="$base.m4a"
  if ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f" -f f32le "$tmp/dec.f32" -y 2> "$tmp/err" &&
     [ ! -s "$tmp/err" ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    echo "FAIL $name decode: $(head -c 300 "$tmp/err")"
    continue
  fi
  check "$name ffprobe" "aac/LC/$rate/$ch" "$(ffprobe -v error -select_streams a:0 \
    -show_entries stream=codec_name,profile,sample_rate,channels -of default=nw=1:nk=1 "$f" | paste -sd/ |
    awk -F/ '{print $1"/"$2"/"$3"/"$4}')"
  ts=$(ffprobe -v error -select_streams a:0 -show_entries stream=duration_ts -of default=nw=1:nk=1 "$f")
  want=$((frames + 2624))
  check "$name duration within one frame of source + delay" "1" \
    "$(( ts >= want && ts < want + 1024 ? 1 : 0 ))"
  check "$name mediainfo" "AAC/LC/$ch/$rate" \
    "$(mediainfo --Inform="Audio;%Format%/%Format_AdditionalFeatures%/%Channels%/%SamplingRate%" "$f")"
  # Alignment and SNR; the floor falls with the bit rate per channel.
  out=$(/usr/bin/python3 - "$base.f32" "$tmp/dec.f32" "$srcch" "$ch" "$bitrate" <<'PY'
import sys
import numpy as np
src = np.fromfile(sys.argv[1], dtype='<f4').reshape(-1, int(sys.argv[3])).astype(np.float64)
dec = np.fromfile(sys.argv[2], dtype='<f4').reshape(-1, int(sys.argv[4])).astype(np.float64)
ch = int(sys.argv[4])
# What the converter chain gives the encoder: a mono source is copied to
# both channels, a stereo source averaged for one.
if src.shape[1] == 1 and ch == 2:
    ref = np.repeat(src, 2, axis=1)
elif src.shape[1] == 2 and ch == 1:
    ref = src.mean(axis=1, keepdims=True)
else:
    ref = src
a = ref[:, 0]
b = dec[:, 0]
n = 1 << int(np.ceil(np.log2(len(a) + len(b))))
X = np.fft.rfft(b, n) * np.conj(np.fft.rfft(a, n))
cc = np.fft.irfft(X / (np.abs(X) + 1e-12), n)
lag = int(np.argmax(cc[:8192]))
seg = dec[lag:lag + len(ref)]
if len(seg) < len(ref):
    print(lag, -99.0)
    sys.exit(0)
snr = 10 * np.log10(np.sum(ref ** 2) / max(np.sum((seg - ref) ** 2), 1e-30))
print(lag, round(float(snr), 2))
PY
)
  read -r lag snr <<< "$out"
  perch=$((bitrate / ch))
  floor=22
  [ "$perch" -le 32000 ] && floor=20
  echo "$name: lag $lag, SNR $snr dB (floor $floor)"
  check "$name lag" "2624" "$lag"
  check "$name SNR >= $floor" "1" "$(awk -v s="$snr" -v f="$floor" 'BEGIN{print (s >= f) ? 1 : 0}')"
done < "$list"
echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
