#!/usr/bin/env bash
# The SBR analysis estimators against numpy:
#  - tonality quotas: the second-order complex predictor over each estimate's
#    14 slots, solved by numpy's least squares, gives the same predicted share
#    and so the same quota; the sign rule follows the lag-1 correlation;
#  - transients: clicks in a quiet noise signal, analysed into 64 bands of 64
#    samples by numpy, are found in the slot where they start, in the right
#    frame, and a stationary signal gives none.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool py:numpy
bin="$VOG_BIN_DIR/sbrenc_tool"
run=()
if [ "$VOG_WIN32" = "ON" ]; then
  bin="$bin.exe"
  run=("$VOG_SOURCE_DIR/scripts/wine-run")
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

/usr/bin/python3 - "$out" <<'PY'
import sys, numpy as np
d = sys.argv[1]
rng = np.random.default_rng(11)
# Per band a different mix: AR(2) resonances of several sharpnesses plus
# white noise, amplitudes in the 16-bit range.
x = np.zeros((34, 64), complex)
for b in range(64):
    r = 0.3 + 0.69 * (b % 8) / 7
    w = 0.2 + 0.09 * b
    p1, p2 = r * np.exp(1j * w), r * np.exp(-1j * 0.5 * w)
    e = (rng.standard_normal(34 + 50) + 1j * rng.standard_normal(34 + 50)) * 300
    y = np.zeros(34 + 50, complex)
    for t in range(2, 34 + 50):
        y[t] = (p1 + p2) * y[t - 1] - p1 * p2 * y[t - 2] + e[t]
    x[:, b] = y[50:]
x[:, 63] = 0  # a silent band
np.save(f"{d}/x.npy", x)
np.stack([x.real, x.imag], axis=-1).astype("<f4").tofile(f"{d}/slots.f32")
PY
"${run[@]}" "$bin" quotas "$(hostpath "$out/slots.f32")" "$(hostpath "$out/quotas.f32")"
/usr/bin/python3 - "$out" <<'PY'
import sys, numpy as np
d = sys.argv[1]
x = np.load(f"{d}/x.npy").astype(np.complex64).astype(complex)
got = np.fromfile(f"{d}/quotas.f32", "<f4")
q = got[:256].reshape(2, 64, 2)
nrg = got[256:]
worst = 0.0
for e in range(2):
    start = 2 + 2 + 16 * e  # two rows in front of the frame, offset 2
    total = 0.0
    for b in range(64):
        t = np.arange(start, start + 14)
        y, x1, x2 = x[t, b], x[t - 1, b], x[t - 2, b]
        e0 = np.sum(np.abs(y) ** 2)
        total += e0
        if e0 == 0:
            assert q[e, b, 0] == 0 and q[e, b, 1] == 1, (e, b, q[e, b])
            continue
        A = np.stack([x1, x2], axis=1)
        coef, *_ = np.linalg.lstsq(A, y, rcond=None)
        res = np.sum(np.abs(y - A @ coef) ** 2)
        f = (e0 - res) / (e0 + 1.0)
        ref = f / (1 - f + np.float32(1e-6))
        rel = abs(q[e, b, 0] - ref) / ref
        worst = max(worst, rel)
        assert rel < 2e-3, (e, b, q[e, b, 0], ref)
        c01 = np.sum(y * np.conj(x1)).real
        k = b - 1 if c01 >= 0 else b
        assert q[e, b, 1] == (1 if k % 2 == 0 else -1), (e, b, q[e, b, 1], c01)
    assert abs(nrg[e] - total) <= 1e-5 * total, (nrg[e], total)
print("tonality quotas: 128 estimates match numpy's least squares (worst %.2e relative)" % worst)
PY

/usr/bin/python3 - "$out" <<'PY'
import sys, numpy as np
d = sys.argv[1]
rng = np.random.default_rng(5)
frames, n = 8, 8 * 2048
def energies(sig):
    # 64 bands of 64-sample slots: a 128-point Hann-windowed FFT per slot,
    # centred on the slot.
    pad = np.concatenate([np.zeros(32), sig, np.zeros(96)])
    win = np.hanning(128)
    out = np.zeros((n // 64, 64))
    for s in range(n // 64):
        spec = np.fft.fft(pad[s * 64:s * 64 + 128] * win)
        out[s] = np.abs(spec[:64]) ** 2 / 64
    return out
base = rng.standard_normal(n) * 0.003 * 32768
clicks = [(2, 5 * 64 + 10), (4, 20 * 64), (6, 29 * 64 + 40)]
sig = base.copy()
for fr, pos in clicks:
    at = fr * 2048 + pos
    sig[at:at + 16] += rng.standard_normal(16) * 0.5 * 32768
energies(sig).astype("<f4").tofile(f"{d}/clicks.f32")
energies(base).astype("<f4").tofile(f"{d}/steady.f32")
(energies(sig) * 2.0 ** -30).astype("<f4").tofile(f"{d}/clicks_norm.f32")
np.save(f"{d}/clicks.npy", np.array(clicks))
PY
for f in clicks steady clicks_norm; do
  scale=1
  [ "$f" = clicks_norm ] && scale=0
  "${run[@]}" "$bin" transients "$(hostpath "$out/$f.f32")" 8 $scale | tr -d '\r' >"$out/$f.txt"
done
/usr/bin/python3 - "$out" <<'PY'
import sys, numpy as np
d = sys.argv[1]
clicks = {int(f): int(p) for f, p in np.load(f"{d}/clicks.npy")}
def parse(name):
    rows = {}
    for line in open(f"{d}/{name}.txt"):
        w = line.split()
        rows[int(w[1])] = (int(w[3]), int(w[5]))
    return rows
for name in ("clicks", "clicks_norm"):
    got = parse(name)
    for fr in range(1, 8):  # the first frame sees the silence before the stream start
        found, pos = got[fr]
        if fr in clicks:
            slot = clicks[fr] // 64
            assert found == 1 and abs(pos - slot) <= 1, (name, fr, got[fr], slot)
        else:
            assert found == 0, (name, fr, got[fr])
    print("%s: clicks found at slots %s (started in %s)" % (name, [got[f][1] for f in sorted(clicks)], [clicks[f] // 64 for f in sorted(clicks)]))
steady = parse("steady")
assert all(steady[f][0] == 0 for f in range(1, 8)), steady
print("steady noise: no transient in frames 1-7")
PY
echo "sbr estimator oracle: all checks pass"
