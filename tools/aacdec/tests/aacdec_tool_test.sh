#!/usr/bin/env bash
# aacdec end to end: MP4 in, float WAV out that ffprobe reads with the
# stream's layout and that matches ffmpeg's decode of every frame; --bench
# prints its figures; a file that is not AAC is refused with status 2.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe py:numpy
bin="$VOG_BIN_DIR/aacdec"
run=()
if [ "$VOG_WIN32" = "ON" ]; then
  bin="$bin.exe"
  run=("$VOG_SOURCE_DIR/scripts/wine-run")
fi
fx="$VOG_FIXTURE_DIR/aacdec"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for name in st44k ch51; do
  "${run[@]}" "$bin" "$(hostpath "$fx/$name.m4a")" "$(hostpath "$out/$name.wav")"
  ffprobe -v error -show_entries stream=codec_name,channels,sample_rate -of csv=p=0 "$out/$name.wav" >"$out/probe"
  read -r probe <"$out/probe"
  case "$name" in
    st44k) [ "$probe" = "pcm_f32le,44100,2" ] || { echo "st44k probe: $probe"; exit 1; } ;;
    ch51) [ "$probe" = "pcm_f32le,48000,6" ] || { echo "ch51 probe: $probe"; exit 1; } ;;
  esac
  /usr/bin/python3 - "$out/$name.wav" "$fx/$name.f32" <<'PY'
import sys
import numpy as np
d = open(sys.argv[1], "rb").read()
ch = int.from_bytes(d[22:24], "little")
i = d.find(b"data")
ours = np.frombuffer(d[i + 8:], dtype="<f4").reshape(-1, ch).astype(float)
ref = np.fromfile(sys.argv[2], dtype="<f4").reshape(-1, ch).astype(float)
assert len(ours) == len(ref), (len(ours), len(ref))
snr = 10 * np.log10((ref ** 2).sum() / max(((ref - ours) ** 2).sum(), 1e-30))
print("%s: %d frames, SNR %.1f dB against ffmpeg" % (sys.argv[1], len(ours), snr))
assert snr >= 100, snr
PY
done
"${run[@]}" "$bin" --bench "$(hostpath "$fx/st44k.m4a")" | tee "$out/bench"
grep -q "x real time" "$out/bench"
set +e
"${run[@]}" "$bin" "$(hostpath "$VOG_SHARED_DIR/vectors/mp4/opus.m4a")" "$(hostpath "$out/x.wav")" 2>/dev/null
status=$?
set -e
if [ -f "$VOG_SHARED_DIR/vectors/mp4/opus.m4a" ] && [ $status -ne 2 ]; then
  echo "opus.m4a: status $status, expected 2"
  exit 1
fi
echo "aacdec tool: ok"
