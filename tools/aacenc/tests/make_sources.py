#!/usr/bin/python3
"""Stereo test sources for the encoder checks, written as 32-bit float WAV.

make_sources.py DIR [SECONDS]  writes into DIR:
  music.wav   chords with attacks and vibrato, plus noise bursts
  speech.wav  a voiced pulse train through moving formants, with pauses
  pink.wav    pink noise
  clicks.wav  a train of clicks on near silence
  sweep.wav   a logarithmic sine sweep from 50 Hz to 20 kHz
  tone.wav    a steady 11 kHz tone at -12 dBFS over a quiet 440 Hz tone
  silence.wav digital silence
All at 44100 Hz; the seed is fixed so the files are the same every time.
"""
import struct
import sys

import numpy as np

RATE = 44100


def write_wav(path, x, rate=RATE):
    """A float WAV of x (samples by channels)."""
    x = np.asarray(x, dtype="<f4")
    ch = x.shape[1]
    data = x.tobytes()
    fmt = struct.pack("<HHIIHH", 3, ch, rate, rate * 4 * ch, 4 * ch, 32)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(data)) + data)


def pink(rng, n):
    spec = np.fft.rfft(rng.standard_normal(n))
    f = np.arange(len(spec))
    f[0] = 1
    x = np.fft.irfft(spec / np.sqrt(f), n)
    return x / np.max(np.abs(x))


def music(rng, n):
    t = np.arange(n) / RATE
    out = np.zeros((n, 2))
    chords = [[220.0, 277.18, 329.63], [196.0, 246.94, 293.66], [174.61, 220.0, 261.63], [246.94, 311.13, 369.99]]
    seg = RATE // 2
    for i, start in enumerate(range(0, n, seg)):
        end = min(n, start + seg)
        tt = t[start:end] - t[start]
        env = np.exp(-tt * 3.0) * np.minimum(1.0, tt * 200.0)
        for k, f0 in enumerate(chords[i % len(chords)]):
            vib = 1.0 + 0.004 * np.sin(2 * np.pi * 5.5 * tt)
            phase = 2 * np.pi * np.cumsum(f0 * vib) / RATE
            # Harmonics up to 16 kHz give the high band something to carry.
            for h in range(1, 40):
                if f0 * h > 16000:
                    break
                a = 0.5 / h ** 0.9
                out[start:end, k % 2] += a * env * np.sin(h * phase)
                out[start:end, (k + 1) % 2] += 0.5 * a * env * np.sin(h * phase + 0.3)
        if i % 3 == 2:
            burst = rng.standard_normal((min(RATE // 10, end - start), 2)) * 0.2
            out[start:start + len(burst)] += burst
    return 0.25 * out / np.max(np.abs(out))


def speech(rng, n):
    t = np.arange(n) / RATE
    f0 = 120 + 30 * np.sin(2 * np.pi * 0.7 * t)
    phase = np.cumsum(f0) / RATE
    pulses = (np.diff(np.floor(phase), prepend=0) > 0).astype(float)
    x = np.zeros(n)
    # Formants that move with the syllables, as two-pole resonators.
    for fc, bw in ((700, 120), (1200, 150), (2600, 200), (3500, 300)):
        r = np.exp(-np.pi * bw / RATE)
        y = np.zeros(n)
        fcv = fc * (1 + 0.2 * np.sin(2 * np.pi * 3.0 * t))
        a1 = 2 * r * np.cos(2 * np.pi * fcv / RATE)
        y1 = y2 = 0.0
        for i in range(n):
            v = pulses[i] + a1[i] * y1 - r * r * y2
            y2, y1 = y1, v
            y[i] = v
        x += y / np.max(np.abs(y))
    fric = np.diff(rng.standard_normal(n + 1)) * 0.15
    syl = (np.sin(2 * np.pi * 3.0 * t) > -0.3).astype(float)
    x = x * syl + fric * (1 - syl) * (np.sin(2 * np.pi * 1.1 * t) > 0)
    x = x / np.max(np.abs(x)) * 0.3
    return np.stack([x, 0.8 * x], axis=1)


def clicks(n):
    x = np.zeros((n, 2))
    for p in range(RATE // 4, n - 64, RATE // 3):
        x[p:p + 4] = [[0.8, 0.8], [-0.6, -0.6], [0.3, 0.3], [-0.1, -0.1]]
    return x


def sweep(n):
    t = np.arange(n) / RATE
    T = n / RATE
    f1, f2 = 50.0, 20000.0
    k = np.log(f2 / f1)
    x = 0.25 * np.sin(2 * np.pi * f1 * T / k * (np.exp(t / T * k) - 1))
    return np.stack([x, x], axis=1)


def main():
    out = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 4.0
    n = int(RATE * seconds)
    rng = np.random.default_rng(1234)
    t = np.arange(n) / RATE
    tone = 0.25 * np.sin(2 * np.pi * 11000 * t) + 0.05 * np.sin(2 * np.pi * 440 * t)
    write_wav(out + "/music.wav", music(rng, n))
    write_wav(out + "/speech.wav", speech(rng, n))
    write_wav(out + "/pink.wav", 0.25 * np.stack([pink(rng, n), pink(rng, n)], axis=1))
    write_wav(out + "/clicks.wav", clicks(n))
    write_wav(out + "/sweep.wav", sweep(n))
    write_wav(out + "/tone.wav", np.stack([tone, tone], axis=1))
    write_wav(out + "/silence.wav", np.zeros((n, 2)))


if __name__ == "__main__":
    main()
