#!/usr/bin/env bash
# HE-AAC through aacenc: every HE-AAC preset (9, 10, 11, 14) from stereo
# sources of our making (music-like, speech-like, pink noise, clicks, a sweep,
# a high tone, silence). Each file: ffprobe sees aac, HE-AAC, 44100 Hz, 2
# channels; mediainfo reports SBR; ffmpeg decodes it without one message;
# faad decodes it; our decoder agrees with ffmpeg's at 55 dB or better; and
# he_checks.py holds ffmpeg's decode against the source (levels per
# 1/3-octave band, click timing, the tone, silence, lag, length, bitrate).
# Bad input (NaN, infinities, full-scale square waves, DC, very quiet) never
# fails the encoder and never breaks the stream.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe mediainfo faad py:numpy
here="$VOG_SOURCE_DIR/tools/aacenc/tests"
. "$here/he_render.sh"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
/usr/bin/python3 "$here/make_sources.py" "$out" 3 || { echo "FAIL: sources"; exit 1; }
# Bad input: NaN and infinities among music, full-scale square waves, DC,
# and a source 100 dB down.
/usr/bin/python3 - "$out" <<'PY'
import sys, struct
import numpy as np
out = sys.argv[1]
def write(name, x):
    x = np.asarray(x, dtype="<f4")
    fmt = struct.pack("<HHIIHH", 3, 2, 44100, 44100 * 8, 8, 32)
    with open(out + "/" + name, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + 8 + x.nbytes) + b"WAVEfmt " + struct.pack("<I", 16) + fmt)
        f.write(b"data" + struct.pack("<I", x.nbytes) + x.tobytes())
d = open(out + "/music.wav", "rb").read()
m = np.frombuffer(d[d.find(b"data") + 8:], dtype="<f4").reshape(-1, 2).copy()
bad = m.copy()
bad[1000:1100] = np.nan
bad[30000:30010, 0] = np.inf
bad[50000:50010, 1] = -np.inf
write("nan.wav", bad)
t = np.arange(len(m)) / 44100
sq = np.sign(np.sin(2 * np.pi * 1000 * t))
write("square.wav", np.stack([sq, np.sign(np.sin(2 * np.pi * 3100 * t))], axis=1))
write("dc.wav", np.full((len(m), 2), 0.9))
write("quiet.wav", m * 1e-5)
PY
pcm_of() {  # our decoder's float WAV of a file; its messages in $out/dlog
  run_build_tool aacdec "$1" "$2" >"$out/dlog" 2>&1
}
for preset in 9 10 11 14; do
  for src in music speech pink clicks sweep tone silence nan square dc quiet; do
    name="p${preset}_$src"
    he_render "$name" "$src" "$preset" HE-AAC || continue
    faad -q -o "$out/faad.wav" "$f" >"$out/faadlog" 2>&1 || fail "$name: faad: $(head -c 300 "$out/faadlog")"
    case "$src" in
      nan | square | dc | quiet) kind=robust ;;
      *) kind=$src ;;
    esac
    ours=()
    if pcm_of "$f" "$out/ours.wav"; then ours=("$out/ours.wav"); else fail "$name: our decoder: exit $?: $(head -c 300 "$out/dlog")"; fi
    /usr/bin/python3 "$here/he_checks.py" "$kind" "$out/$src.wav" "$f" "$delay" "$xover" "$stop" "$rate" \
      "${ours[@]}" >"$out/check" 2>&1 || fail "$name: $(grep FAIL "$out/check" | head -5 | tr '\n' ';')"
    sed "s/^/$name: /" "$out/check" | grep -v "^$name: FAIL"
  done
done
exit $status
