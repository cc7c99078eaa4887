#!/usr/bin/env bash
# The HE-AAC and HE-AAC v2 renders that aac_render_test leaves (run after
# vogaac2_tests): ffmpeg decodes each without a single message; ffprobe sees
# aac, the listed profile (HE-AAC or HE-AACv2), 44100 Hz, 2 channels;
# mediainfo reports SBR (and PS for v2); faad decodes it; and ffmpeg's
# decode, aligned with the source, lags by the encoder's delay and keeps the
# 440 Hz tone's level within 1 dB and the noise above the crossover within
# 2 dB per 1/3-octave band over the file.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe mediainfo faad py:numpy
dir="$VOG_FIXTURE_DIR/aacrender"
list="$dir/he_renders.txt"
[ -s "$list" ] || { echo "FAIL: $list missing"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
count=0
while read -r base srcch frames rate ch bitrate profile delay; do
  delay=${delay%$'\r'}
  name=$(basename "$base")
  f="$base.m4a"
  count=$((count + 1))
  ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f" -f f32le "$tmp/dec.f32" -y 2>"$tmp/err"
  [ -s "$tmp/err" ] && { fail "$name: ffmpeg: $(head -c 300 "$tmp/err")"; continue; }
  probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,profile,sample_rate,channels \
    -of default=nw=1:nk=1 "$f" | paste -sd/)
  [ "$probe" = "aac/$profile/$rate/$ch" ] || fail "$name: ffprobe $probe"
  mediainfo "$f" | grep -q SBR || fail "$name: mediainfo reports no SBR"
  if [ "$profile" = HE-AACv2 ]; then mediainfo "$f" | grep -q PS || fail "$name: mediainfo reports no PS"; fi
  faad -q -o "$tmp/faad.wav" "$f" >"$tmp/faadlog" 2>&1 || fail "$name: faad: $(head -c 300 "$tmp/faadlog")"
  /usr/bin/python3 - "$base.f32" "$tmp/dec.f32" "$srcch" "$ch" "$delay" <<'PY' || fail "$name: levels"
import sys
import numpy as np
src = np.fromfile(sys.argv[1], dtype="<f4").reshape(-1, int(sys.argv[3])).astype(float)[:, 0]
dec = np.fromfile(sys.argv[2], dtype="<f4").reshape(-1, int(sys.argv[4])).astype(float)[:, 0]
delay = int(sys.argv[5])
seg = dec[delay:delay + len(src)]
assert len(seg) == len(src), ("the decode is short", len(dec), delay + len(src))
def bands(x, lo, hi):
    X = np.abs(np.fft.rfft(x * np.hanning(len(x)))) ** 2
    f = np.fft.rfftfreq(len(x), 1 / 44100)
    r = []
    for c in 1000 * 2 ** (np.arange(-10, 14) / 3):
        a, b = c * 2 ** (-1 / 6), c * 2 ** (1 / 6)
        if a >= lo and b <= hi:
            r.append((c, 10 * np.log10(X[(f >= a) & (f < b)].sum())))
    return r
bad = 0
for (c, a), (_, b) in zip(bands(src, 8900, 14300), bands(seg, 8900, 14300)):
    print("%.0f Hz %+.2f dB" % (c, b - a))
    bad += abs(b - a) > 2
(c, a), (_, b) = bands(src, 350, 450)[0], bands(seg, 350, 450)[0]
print("440 Hz %+.2f dB" % (b - a))
bad += abs(b - a) > 1
sys.exit(1 if bad else 0)
PY
done <"$list"
[ "$count" -eq 12 ] || fail "$count renders listed, 12 expected"
echo "$count renders checked"
exit $status
