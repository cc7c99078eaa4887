#!/usr/bin/python3
"""Temporal noise shaping, judged on ffmpeg's decodes of aacenc's streams.

tns_check.py make DIR        writes DIR/castanets.wav (sharp high clicks every
                             ~0.3 s over two quiet tones) and DIR/steady.wav
                             (a steady tone), stereo, 44.1 kHz float
tns_check.py preecho WAV ON OFF RATE DB
                             ON and OFF are ffmpeg's f32le stereo decodes (at
                             RATE Hz, the encoder's rate) of
                             the source coded with and without TNS; the
                             pre-echo, the coding error in the 5 ms before
                             each click above the error on the tones alone
                             (30 to 25 ms before it), must be at least DB dB
                             lower with TNS than without
tns_check.py steady WAV ON OFF RATE
                             no frame of 1024 samples has a larger coding
                             error with TNS than without (0.5 dB allowed)
tns_check.py same OURS.wav FFMPEG.f32
                             our decoder's WAV (priming kept) and ffmpeg's
                             decode (priming dropped) of one stream agree
                             within 1e-4 once aligned
The source is converted to RATE and the decodes are aligned to it by
cross-correlation first.
"""
import sys

import numpy as np
from scipy.signal import butter, lfilter, resample_poly

from make_sources import write_wav

RATE = 44100
SECONDS = 4
PERIOD = 13000  # samples between clicks (not a multiple of the frame)
FIRST = 9000


def clicks():
    return list(range(FIRST, SECONDS * RATE - 4096, PERIOD))


def make(folder):
    rng = np.random.default_rng(7)
    n = SECONDS * RATE
    t = np.arange(n) / RATE
    base = 0.005 * np.sin(2 * np.pi * 440 * t) + 0.004 * np.sin(2 * np.pi * 660 * t + 1.0)
    x = np.stack([base, base], axis=1)
    b, a = butter(4, [1500, 7000], btype="band", fs=RATE)
    for c in clicks():
        # A castanet: a burst of noise in 1.5-7 kHz (within what the coder
        # keeps at 32 kHz), sharp onset, 3 ms decay.
        m = 400
        burst = rng.standard_normal((m, 2))
        burst[:, 1] = 0.7 * burst[:, 0] + 0.3 * burst[:, 1]
        burst *= np.exp(-np.arange(m) / (0.003 * RATE))[:, None]
        x[c:c + m] += 0.6 * lfilter(b, a, burst, axis=0)
    write_wav(folder + "/castanets.wav", x, RATE)
    # A marker click for the alignment, then the tone from 0.3 s on.
    tone = (0.25 * np.sin(2 * np.pi * 1000 * t) + 0.05 * np.sin(2 * np.pi * 3300 * t)) * (t >= 0.3)
    tone[int(0.1 * RATE)] = 0.5
    write_wav(folder + "/steady.wav", np.stack([tone, 0.8 * tone], axis=1), RATE)


def read_wav(path):
    d = open(path, "rb").read()
    pos = 12
    while pos + 8 <= len(d):
        size = int.from_bytes(d[pos + 4:pos + 8], "little")
        if d[pos:pos + 4] == b"data":
            return np.frombuffer(d[pos + 8:pos + 8 + size], "<f4").reshape(-1, 2).astype(float)
        pos += 8 + size + (size & 1)
    raise SystemExit("no data chunk in " + path)


def aligned(src, path, rate):
    y = np.fromfile(path, "<f4").reshape(-1, 2).astype(float)
    a, b = src[:rate, 0], y[:rate + 8192, 0]
    corr = np.correlate(b, a[:rate // 4], mode="valid")
    lag = int(np.argmax(corr))
    y = y[lag:lag + len(src)]
    assert len(y) == len(src), "decode of %s is short" % path
    return y


def main():
    if sys.argv[1] == "make":
        make(sys.argv[2])
        return 0
    if sys.argv[1] == "same":
        ours = read_wav(sys.argv[2])
        theirs = np.fromfile(sys.argv[3], "<f4").reshape(-1, 2).astype(float)
        corr = np.correlate(ours[:RATE + 8192, 0], theirs[:RATE // 4, 0], mode="valid")
        lag = int(np.argmax(corr))
        n = min(len(theirs), len(ours) - lag)
        diff = np.max(np.abs(ours[lag:lag + n] - theirs[:n]))
        print("our decoder against ffmpeg: largest difference %.3g (priming %d)" % (diff, lag))
        return 0 if diff < 1e-4 else 1
    rate = int(sys.argv[5])
    src = read_wav(sys.argv[2])
    if rate != RATE:
        src = resample_poly(src, rate, RATE, axis=0)
    on, off = aligned(src, sys.argv[3], rate), aligned(src, sys.argv[4], rate)
    if sys.argv[1] == "preecho":
        w = int(0.005 * rate)
        starts = [c * rate // RATE for c in clicks()]
        # The error in the 5 ms before the click above the codec's floor on
        # the quiet tones, measured 30 to 25 ms before it.
        f = int(0.030 * rate)

        def preecho(y):
            return sum(max(0.0, np.sum((y[c - w:c] - src[c - w:c]) ** 2) -
                           np.sum((y[c - f:c - f + w] - src[c - f:c - f + w]) ** 2)) for c in starts)
        e_on, e_off = preecho(on), preecho(off)
        gain = 10 * np.log10(e_off / max(e_on, 1e-20))
        print("pre-echo energy %.3g with TNS, %.3g without: %.1f dB lower" % (e_on, e_off, gain))
        return 0 if gain >= float(sys.argv[6]) else 1
    worst = -1e9
    for f in range(rate * 6 // 10 // 1024, len(src) // 1024 - 2):
        s = slice(f * 1024, (f + 1) * 1024)
        a = np.sum((on[s] - src[s]) ** 2) + 1e-12
        b = np.sum((off[s] - src[s]) ** 2) + 1e-12
        worst = max(worst, 10 * np.log10(a / b))
    print("steady tone: worst frame with TNS %.2f dB against without" % worst)
    return 0 if worst <= 0.5 else 1


if __name__ == "__main__":
    sys.exit(main())
