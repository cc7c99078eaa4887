#!/usr/bin/python3
"""Long-term prediction and the error-resilient syntax, judged on decodes.

ltp_er_check.py make WAV     writes a stereo 32 kHz source of two harmonic
                             tones (220 Hz and 330 Hz, twelve and ten
                             partials), the steady periodic sound that the
                             prediction is made for
ltp_er_check.py snr WAV DECODED.wav MIN_DB
                             each channel of the decode (at the source's
                             rate), aligned by cross-correlation, keeps at
                             least MIN_DB of SNR against the source and
                             the decode is not short; prints the figures
"""
import sys
import wave

import numpy as np

RATE = 32000


def read_wav(path):
    w = wave.open(path)
    n = w.getnchannels()
    width = w.getsampwidth()
    data = w.readframes(w.getnframes())
    if width == 2:
        x = np.frombuffer(data, "<i2").astype(float) / 32768.0
    else:
        x = np.frombuffer(data, "<i4").astype(float) / 2147483648.0
    return x.reshape(-1, n), w.getframerate()


def make(path):
    t = np.arange(4 * RATE) / RATE
    chans = []
    for f0, parts, decay in ((220.0, 12, 0.8), (330.0, 10, 0.75)):
        x = sum(np.sin(2 * np.pi * f0 * k * t + k) * decay ** k for k in range(1, parts + 1))
        chans.append(0.4 * x / np.max(np.abs(x)))
    pcm = (np.stack(chans, 1) * 32767).astype("<i2")
    w = wave.open(path, "wb")
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(pcm.tobytes())
    w.close()


def snr(src_path, dec_path, min_db):
    ref, rate = read_wav(src_path)
    dec, drate = read_wav(dec_path)
    if drate != rate or dec.shape[1] < ref.shape[1]:
        print("decode is %d Hz, %d channels" % (drate, dec.shape[1]))
        return 1
    # A decoder that stops at a frame it cannot read leaves a short decode.
    if len(dec) < 0.95 * len(ref):
        print("decode of %d samples for %d" % (len(dec), len(ref)))
        return 1
    bad = 0
    figures = []
    for c in range(ref.shape[1]):
        a, b = ref[:, c], dec[:, c]
        n = min(len(a), len(b))
        size = 1 << int(np.ceil(np.log2(2 * n)))
        xc = np.fft.irfft(np.fft.rfft(b[:n], size) * np.conj(np.fft.rfft(a[:n], size)), size)
        lag = int(np.argmax(xc[:8192]))
        m = min(len(a), len(b) - lag) - 2048
        r, d = a[2048:m], b[lag + 2048:lag + m]
        db = 10 * np.log10(np.sum(r * r) / max(np.sum((r - d) ** 2), 1e-20))
        figures.append("channel %d %.1f dB (lag %d)" % (c, db, lag))
        if db < min_db:
            bad = 1
    print(", ".join(figures))
    return bad


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(snr(sys.argv[2], sys.argv[3], float(sys.argv[4])))
