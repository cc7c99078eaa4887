#!/usr/bin/env bash
# The AAC-LC renders that aac_render_test leaves (run after vogaac2_tests):
# ffmpeg decodes each without an error; the edit list presents exactly the
# source (it skips the 2624-frame delay and lasts the source's frames); ffmpeg's
# default decode honours its start: aligned with the source (cross-correlation
# lag 0, GCC-PHAT), covering it to within the last unit (this ffmpeg keeps the
# padding of the last unit), with a signal-to-noise ratio above the preset's
# floor; the raw stream (edit list ignored) lasts the source plus
# the encoder's 2624-frame delay padded to a whole 1024-frame unit and starts
# 2624 frames late; ffprobe sees AAC LC at the preset's rate and channels;
# mediainfo reads it; the 'esds' maximum bit rate is no less than the stream's
# peak over one second; faad plays the low-rate renders at their rate; and
# the gapless comment of these .m4a files (iTunSMPB) reads the same in
# ffprobe, exiftool and faad: 2624 frames of priming, the source's frames,
# and as padding the rest of the raw stream (mediainfo does not read the
# comment; it reports the edit list's delay). This ffmpeg applies the
# comment's priming even when it ignores the edit list, so the raw decode
# reads a copy whose comment is renamed.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe mediainfo exiftool py:numpy
have_faad=0
optional_tool faad && have_faad=1
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
     [ ! -s "$tmp/err" ] &&
     /usr/bin/python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); open(sys.argv[2], "wb").write(
       d.replace(b"iTunSMPB", b"iTunSMPX"))' "$f" "$tmp/raw.m4a" &&
     ffmpeg -nostdin -v error -err_detect explode -xerror -ignore_editlist 1 -i "$tmp/raw.m4a" -f f32le \
       "$tmp/raw.f32" -y 2> "$tmp/err" && [ ! -s "$tmp/err" ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    echo "FAIL $name decode: $(head -c 300 "$tmp/err")"
    continue
  fi
  check "$name ffprobe" "aac/LC/$rate/$ch" "$(ffprobe -v error -select_streams a:0 \
    -show_entries stream=codec_name,profile,sample_rate,channels -of default=nw=1:nk=1 "$f" | paste -sd/ |
    awk -F/ '{print $1"/"$2"/"$3"/"$4}')"
  ts=$(ffprobe -v error -ignore_editlist 1 -select_streams a:0 -show_entries stream=duration_ts \
    -of default=nw=1:nk=1 "$f")
  want=$((frames + 2624))
  check "$name raw duration within one frame of source + delay" "1" \
    "$(( ts >= want && ts < want + 1024 ? 1 : 0 ))"
  smpb=$(printf ' %08X %08X %08X %016X' 0 2624 $((ts - 2624 - frames)) "$frames")
  smpb="$smpb 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000"
  check "$name iTunSMPB (ffprobe)" "$smpb" "$(ffprobe -v error -show_entries format_tags=iTunSMPB \
    -of default=nw=1:nk=1 "$f")"
  # exiftool prints the fields as numbers without leading zeros.
  check "$name iTunSMPB (exiftool)" "$(printf '0 A40 %X %X 0 0 0 0 0 0 0 0' $((ts - 2624 - frames)) "$frames")" \
    "$(exiftool -s3 -iTunSMPB "$f")"
  if [ "$have_faad" = 1 ]; then
    check "$name iTunSMPB (faad)" "$smpb" "$(faad -i "$f" 2>&1 | grep -a '^iTunSMPB' | grep -ao ' 00000000 .*$')"
  fi
  check "$name mediainfo" "AAC/LC/$ch/$rate" \
    "$(mediainfo --Inform="Audio;%Format%/%Format_AdditionalFeatures%/%Channels%/%SamplingRate%" "$f")"
  if [ "$have_faad" = 1 ] && [ "$rate" -le 24000 ]; then
    # No SBR is signalled explicitly: faad takes the stream at its own rate.
    check "$name faad rate" "$rate" "$(faad -i "$f" 2>&1 | grep -ao '[0-9]* Hz' | head -1 | cut -d' ' -f1)"
  fi
  # Alignment, length and SNR; the floor falls with the bit rate per channel.
  out=$(PYTHONPATH="$VOG_SOURCE_DIR/tests/support" /usr/bin/python3 - "$base.f32" "$tmp/dec.f32" "$tmp/raw.f32" \
        "$srcch" "$ch" "$f" "$rate" <<'PY'
import math
import struct
import sys
import numpy as np
import mp4walk
src = np.fromfile(sys.argv[1], dtype='<f4').reshape(-1, int(sys.argv[4])).astype(np.float64)
dec = np.fromfile(sys.argv[2], dtype='<f4').reshape(-1, int(sys.argv[5])).astype(np.float64)
raw = np.fromfile(sys.argv[3], dtype='<f4').reshape(-1, int(sys.argv[5])).astype(np.float64)
ch = int(sys.argv[5])
rate = int(sys.argv[7])
# What the converter chain gives the encoder: a mono source is copied to
# both channels, a stereo source averaged for one.
if src.shape[1] == 1 and ch == 2:
    ref = np.repeat(src, 2, axis=1)
elif src.shape[1] == 2 and ch == 1:
    ref = src.mean(axis=1, keepdims=True)
else:
    ref = src

def lag_of(sig):
    a = ref[:, 0]
    b = sig[:, 0]
    n = 1 << int(np.ceil(np.log2(len(a) + len(b))))
    X = np.fft.rfft(b, n) * np.conj(np.fft.rfft(a, n))
    cc = np.fft.irfft(X / (np.abs(X) + 1e-12), n)
    return int(np.argmax(cc[:8192]))

lag = lag_of(dec)
seg = dec[lag:lag + len(ref)]
snr = -99.0
if len(seg) == len(ref):
    snr = 10 * np.log10(np.sum(ref ** 2) / max(np.sum((seg - ref) ** 2), 1e-30))
# The 'esds' maximum bit rate against the peak of any second of units.
data = open(sys.argv[6], 'rb').read()
path = ['moov', 'trak', 'mdia', 'minf', 'stbl']
stbl = mp4walk.find(data, 0, len(data), path)
stsz = mp4walk.find(data, stbl[0], stbl[1], ['stsz'])
count = struct.unpack('>I', data[stsz[0] + 8:stsz[0] + 12])[0]
sizes = struct.unpack('>%dI' % count, data[stsz[0] + 12:stsz[0] + 12 + 4 * count])
def descriptor_body(pos, tag):
    assert data[pos] == tag, (pos, tag)
    pos += 1
    while data[pos] & 0x80:
        pos += 1
    return pos + 1

es = descriptor_body(data.find(b'esds') + 8, 3)     # after the box type and version
config = descriptor_body(es + 3, 4)                   # after ES_ID and the flags byte
maxrate = struct.unpack('>I', data[config + 5:config + 9])[0]  # after type, stream type, buffer size
window = math.ceil(rate / 1024)
peak = max(sum(sizes[i:i + window]) * 8 * rate / (window * 1024) for i in range(max(1, count - window + 1)))
elst = mp4walk.find(data, 0, len(data), ['moov', 'trak', 'edts', 'elst'])
mvhd = mp4walk.find(data, 0, len(data), ['moov', 'mvhd'])
edit = 'none'
if elst and mvhd:
    count, duration, start = struct.unpack('>III', data[elst[0] + 4:elst[0] + 16])
    timescale = struct.unpack('>I', data[mvhd[0] + 12:mvhd[0] + 16])[0]
    edit = '%d/%d/%d/%d' % (count, timescale, duration, start)
print(lag, round(float(snr), 2), len(dec), lag_of(raw), maxrate, int(peak), edit)
PY
)
  read -r lag snr decoded rawlag maxrate peak edit <<< "$out"
  perch=$((bitrate / ch))
  floor=22
  [ "$perch" -le 32000 ] && floor=20
  echo "$name: lag $lag, SNR $snr dB (floor $floor), $decoded frames, raw lag $rawlag, max rate $maxrate >= peak $peak"
  check "$name edit list (entries/timescale/duration/start)" "1/$rate/$frames/2624" "$edit"
  check "$name decode covers the source within one unit" "1" "$(( decoded >= frames && decoded < frames + 1024 ? 1 : 0 ))"
  check "$name lag" "0" "$lag"
  check "$name raw lag" "2624" "$rawlag"
  check "$name SNR >= $floor" "1" "$(awk -v s="$snr" -v f="$floor" 'BEGIN{print (s >= f) ? 1 : 0}')"
  check "$name max bit rate >= peak" "1" "$(( maxrate >= peak ? 1 : 0 ))"
done < "$list"
echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
