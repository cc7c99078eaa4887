#!/usr/bin/env bash
# aacenc end to end at the AAC-LC presets: a music-like stereo source (and a
# mono one for a stereo preset) encoded at each LC preset whose rate is the
# source's; ffmpeg decodes every file without a single error or warning,
# ffprobe sees AAC LC at the preset's rate and channels, and the decode,
# aligned with the source, keeps its level. --bench prints its figures; a
# file that is not WAV is refused with status 2.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe py:numpy
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
/usr/bin/python3 "$VOG_SOURCE_DIR/tools/aacenc/tests/make_sources.py" "$out" 2 || { echo "FAIL: sources"; exit 1; }
# A mono source: the music's left channel.
/usr/bin/python3 - "$out/music.wav" "$out/mono.wav" <<'PY'
import sys, struct
import numpy as np
d = open(sys.argv[1], "rb").read()
i = d.find(b"data")
x = np.frombuffer(d[i + 8:], dtype="<f4").reshape(-1, 2)[:, 0].copy()
fmt = struct.pack("<HHIIHH", 3, 1, 44100, 44100 * 4, 4, 32)
with open(sys.argv[2], "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + 8 + x.nbytes) + b"WAVEfmt " + struct.pack("<I", 16) + fmt)
    f.write(b"data" + struct.pack("<I", x.nbytes) + x.tobytes())
PY
for preset in 0 1 2 3 4 5; do
  for src in music mono; do
    f="$out/p${preset}_$src.m4a"
    if ! run_build_tool aacenc "$out/$src.wav" "$f" --preset $preset >"$out/log" 2>&1; then
      fail "preset $preset $src: aacenc: $(cat "$out/log")"
      continue
    fi
    ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f" -f f32le -ac 2 "$out/dec.f32" -y 2>"$out/err"
    [ -s "$out/err" ] && fail "preset $preset $src: ffmpeg: $(head -c 300 "$out/err")"
    probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,profile,sample_rate,channels \
      -of default=nw=1:nk=1 "$f" | paste -sd/)
    [ "$probe" = "aac/LC/44100/2" ] || fail "preset $preset $src: ffprobe $probe"
    /usr/bin/python3 - "$out/$src.wav" "$out/dec.f32" <<'PY' || fail "preset $preset $src: level"
import sys
import numpy as np
d = open(sys.argv[1], "rb").read()
ch = int.from_bytes(d[22:24], "little")
src = np.frombuffer(d[d.find(b"data") + 8:], dtype="<f4").reshape(-1, ch)[:, 0].astype(float)
dec = np.fromfile(sys.argv[2], dtype="<f4").reshape(-1, 2)[:, 0].astype(float)
# The encoder's delay, then the source: the levels agree within 0.5 dB.
lag = int(np.argmax(np.correlate(dec[:len(src) // 2 + 4096], src[:len(src) // 2], "valid")))
seg = dec[lag:lag + len(src)]
assert len(seg) == len(src), (len(seg), len(src))
err = 10 * np.log10((src ** 2).sum() / max(((src - seg) ** 2).sum(), 1e-30))
lev = 10 * np.log10((seg ** 2).sum() / (src ** 2).sum())
print("lag %d, SNR %.1f dB, level %.2f dB" % (lag, err, lev))
assert abs(lev) < 0.5 and err > 10, (lev, err)
PY
  done
done
run_build_tool aacenc --bench "$out/music.wav" --preset 4 >"$out/bench" 2>&1 || fail "bench: $(cat "$out/bench")"
grep -q "x real time" "$out/bench" || fail "bench output: $(cat "$out/bench")"
cat "$out/bench"
echo "not a wav" >"$out/bad.wav"
run_build_tool aacenc "$out/bad.wav" "$out/bad.m4a" >/dev/null 2>&1
[ $? -eq 2 ] || fail "a file that is not WAV is not refused with 2"
[ -e "$out/bad.m4a" ] && fail "a refused input left a file"
exit $status
