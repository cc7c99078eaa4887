#!/usr/bin/env bash
# The encoder's sample-rate converter measured by numpy, with scipy's
# resample_poly and sox's rate effect as second opinions:
#  - pass band: tones keep their level (ripple), agree with scipy and sox;
#  - delay: the phase of every tone gives one constant delay (linear phase),
#    equal to the converter's reported delay;
#  - stop band: tones above the stop edge (aliasing) and the images of the
#    pass-band tones stay below the requested attenuation;
#  - the Kaiser window, beta and I0 match numpy/scipy.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool sox py:numpy py:scipy
bin="$VOG_BIN_DIR/resample_tool"
run=()
if [ "$VOG_WIN32" = "ON" ]; then
  bin="$bin.exe"
  run=("$VOG_SOURCE_DIR/scripts/wine-run")
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Design formulas against numpy/scipy.
for a in 30 45 60 75 90 120; do "${run[@]}" "$bin" beta $a | tr -d '\r' >"$out/beta_$a"; done
for n in 41 64; do "${run[@]}" "$bin" window $n 8.6 | tr -d '\r' >"$out/win_$n"; done
for x in 0 1 8.6 20; do "${run[@]}" "$bin" i0 $x | tr -d '\r' >"$out/i0_$x"; done
/usr/bin/python3 - "$out" <<'PY'
import sys, numpy as np, scipy.signal, scipy.special
d = sys.argv[1]
for a in (30, 45, 60, 75, 90, 120):
    ours = float(open(f"{d}/beta_{a}").read())
    ref = scipy.signal.kaiser_beta(a)
    assert abs(ours - ref) <= 1e-6 * max(1, ref), (a, ours, ref)
for n in (41, 64):
    ours = np.loadtxt(f"{d}/win_{n}")
    if n % 2:
        ref = np.kaiser(n, 8.6)
    else:
        # Even lengths sample the window between the points of numpy's grid:
        # x = (k + 0.5) / (n / 2) either side of the centre.
        x = (np.arange(n) - (n - 1) / 2) / (n / 2)
        ref = scipy.special.i0(8.6 * np.sqrt(1 - x * x)) / scipy.special.i0(8.6)
    err = np.max(np.abs(ours - ref))
    assert err < 1e-12, (n, err)
for x in ("0", "1", "8.6", "20"):
    ours = float(open(f"{d}/i0_{x}").read())
    ref = scipy.special.i0(float(x))
    assert abs(ours - ref) <= 1e-14 * ref, (x, ours, ref)
print("design formulas: beta, window and I0 match scipy/numpy")
PY

# in out channels block [edge width attenuation]
cases=(
  "44100 22050 2 2048"
  "44100 22050 2 2048 9000 900 75"
  "48000 44100 1 1024"
  "48000 32000 2 2048"
  "32000 48000 1 1024"
  "22050 44100 2 2048"
  "96000 48000 1 1024 20000 1000 120"
)
for c in "${cases[@]}"; do
  set -- $c
  fin=$1 fout=$2 ch=$3 blk=$4
  shift 4
  tune=("$@")
  att=${tune[2]:-90}
  /usr/bin/python3 - "$out" "$fin" "$ch" <<'PY'
import sys, numpy as np
d, fin, ch = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
n = int(fin * 1.5)
t = np.arange(n) / fin
rng = np.random.default_rng(7)
np.save(f"{d}/phases.npy", rng.uniform(0, 2 * np.pi, 64))
PY
  # Pass-band tones up to the pass edge: the edge is known only after the
  # converter is made, so make it once with an empty file to learn it.
  : >"$out/empty.f32"
  info=$("${run[@]}" "$bin" run $fin $fout $ch $blk "$(hostpath "$out/empty.f32")" "$(hostpath "$out/empty_out.f32")" "${tune[@]}" | tr -d '\r')
  pass=$(echo "$info" | sed 's/.* pass \([0-9.]*\) stop.*/\1/')
  stop=$(echo "$info" | sed 's/.* stop \([0-9.]*\)$/\1/')
  /usr/bin/python3 - "$out" "$fin" "$ch" "$pass" "$stop" <<'PY'
import sys, numpy as np
d, fin, ch, pe, se = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
ph = np.load(f"{d}/phases.npy")
n = int(fin * 1.5)
t = np.arange(n) / fin
freqs = np.concatenate(([97.0], np.linspace(300.0, pe, 12)))
np.save(f"{d}/pass_freqs.npy", freqs)
x = sum(0.05 * np.sin(2 * np.pi * f * t + ph[i]) for i, f in enumerate(freqs))
sig = np.stack([x * (1.0 if c == 0 else -0.5) for c in range(ch)], axis=1)
sig.astype("<f4").tofile(f"{d}/pass.f32")
if fin / 2 > se * 1.0001:
    sf = np.linspace(se, fin / 2 * 0.999, 10)
    y = sum(0.05 * np.sin(2 * np.pi * f * t + ph[20 + i]) for i, f in enumerate(sf))
    np.stack([y] * ch, axis=1).astype("<f4").tofile(f"{d}/stop.f32")
PY
  info=$("${run[@]}" "$bin" run $fin $fout $ch $blk "$(hostpath "$out/pass.f32")" "$(hostpath "$out/pass_out.f32")" "${tune[@]}" | tr -d '\r')
  echo "$fin -> $fout ch $ch block $blk ${tune[*]:-}: $info"
  delay=$(echo "$info" | sed 's/^delay \([0-9-]*\) .*/\1/')
  stopdb=none
  if [ -f "$out/stop.f32" ]; then
    "${run[@]}" "$bin" run $fin $fout $ch $blk "$(hostpath "$out/stop.f32")" "$(hostpath "$out/stop_out.f32")" "${tune[@]}" >/dev/null
    stopdb=yes
  fi
  sox -t raw -e floating-point -b 32 -L -r $fin -c $ch "$out/pass.f32" -t raw -e floating-point -b 32 -L "$out/sox.f32" rate -v $fout
  /usr/bin/python3 - "$out" "$fin" "$fout" "$ch" "$delay" "$att" "$stopdb" "$pass" <<'PY'
import sys, numpy as np, scipy.signal
from fractions import Fraction
d, fin, fout, ch, delay, att, stopdb, pe = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), float(sys.argv[6]), sys.argv[7], float(sys.argv[8])
freqs = np.load(f"{d}/pass_freqs.npy")
ph = np.load(f"{d}/phases.npy")
x = np.fromfile(f"{d}/pass.f32", "<f4").reshape(-1, ch).astype(float)
y = np.fromfile(f"{d}/pass_out.f32", "<f4").reshape(-1, ch).astype(float)
# Whole frames: the output holds every input frame past the delay.
expect = int(len(x) * fout / fin) + delay
assert len(y) >= expect, (len(y), expect)

def fit(sig, rate, start, stop):
    """Amplitude and phase of each tone, and the residual power."""
    n = np.arange(start, stop)
    cols = []
    for f in freqs:
        cols += [np.sin(2 * np.pi * f * n / rate), np.cos(2 * np.pi * f * n / rate)]
    A = np.stack(cols, axis=1)
    coef, *_ = np.linalg.lstsq(A, sig[start:stop], rcond=None)
    res = sig[start:stop] - A @ coef
    s, c = coef[0::2], coef[1::2]
    return np.hypot(s, c), np.arctan2(c, s), np.mean(res ** 2)

start, stop = int(0.2 * fout) + delay, int(1.4 * fout)
amp, phase, resid = fit(y[:, 0], fout, start, stop)
ripple = np.max(np.abs(20 * np.log10(amp / 0.05)))
# Phase lag of each tone in output samples; unwrap around the reported delay.
lag = ((ph[:len(freqs)] - phase) / (2 * np.pi * freqs / fout))
period = fout / freqs
lag = lag + np.round((delay - lag) / period) * period
tone_db = 10 * np.log10(0.05 ** 2 / 2)
resid_db = 10 * np.log10(resid + 1e-30) - tone_db
print("  ripple %.5f dB, delay reported %d measured %.4f..%.4f, images/noise %.1f dB" % (ripple, delay, lag.min(), lag.max(), resid_db))
assert ripple < 0.005, ripple
assert lag.max() - lag.min() < 0.01, lag
assert abs(lag.mean() - delay) <= 0.5 + 1e-3, (lag.mean(), delay)
assert resid_db < -(att - 6), resid_db
# Second channel: the same conversion of the scaled copy.
if ch > 1:
    assert np.max(np.abs(y[:, 1] + 0.5 * y[:, 0])) < 1e-6
# scipy and sox as second opinions on the level, in the band both keep flat.
r = Fraction(fout, fin)
ys = scipy.signal.resample_poly(x[:, 0], r.numerator, r.denominator, window=("kaiser", 12.0))
amp_s, _, _ = fit(ys, fout, int(0.2 * fout), int(1.4 * fout))
sx = np.fromfile(f"{d}/sox.f32", "<f4").reshape(-1, ch).astype(float)
amp_x, _, _ = fit(sx[:, 0], fout, int(0.2 * fout), int(1.4 * fout))
low = freqs <= 0.6 * min(fin, fout) / 2
ds = np.max(np.abs(20 * np.log10(amp[low] / amp_s[low])))
dx = np.max(np.abs(20 * np.log10(amp[low] / amp_x[low])))
print("  level against scipy %.4f dB, against sox %.4f dB" % (ds, dx))
assert ds < 0.02 and dx < 0.02, (ds, dx)
if stopdb == "yes":
    z = np.fromfile(f"{d}/stop_out.f32", "<f4").reshape(-1, ch).astype(float)[start:stop, 0]
    alias = 10 * np.log10(np.mean(z ** 2) + 1e-30) - tone_db
    print("  stop band: aliases %.1f dB below one tone" % -alias)
    assert alias < -(att - 6), alias
PY
  rm -f "$out/stop.f32" "$out/stop_out.f32"
done
echo "resampler oracle: all cases pass"
