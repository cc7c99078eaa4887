#!/usr/bin/python3
"""Synthesised stereo test sources for the AAC-LC encoder comparisons.

Usage: lc_sources.py OUTDIR [--seconds S] [--rate R] [--only name,name]

Writes OUTDIR/<name>.wav (16-bit stereo) for each source:
  music   chords of harmonic voices with vibrato, a bass line, a room-like
          tail and panning: dense, tonal, wide-band
  drums   a groove of kick, snare and hi-hat over a bass and chord stabs
  speech  a voiced/unvoiced talker: a pitch-varying pulse train through
          moving formant resonators, fricative noise, syllables and pauses
  clicks  sharp clicks over steady tones (pre-echo)
  plucks  harpsichord-like plucked strings (bright attacks, long decays)
  pink    pink noise, decorrelated channels
  quiet   soft piano-like notes about 30 dB under full scale
All sources are deterministic (fixed seeds).
"""
import os
import sys
import wave

import numpy as np
from scipy import signal

NAMES = ["music", "drums", "speech", "clicks", "plucks", "pink", "quiet"]


def write_wav(path, x, rate):
    x = np.clip(x, -1.0, 32767.0 / 32768.0)
    pcm = np.round(x * 32768.0).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(x.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())


def normalise(x, peak_db):
    return x * (10 ** (peak_db / 20.0) / max(1e-9, np.max(np.abs(x))))


def pan(mono, position):
    """position -1 (left) .. 1 (right), constant power."""
    a = (position + 1) * np.pi / 4
    return np.stack([mono * np.cos(a), mono * np.sin(a)], 1)


def reverb(x, rate, rng, seconds=1.2, level=0.25):
    n = int(seconds * rate)
    out = np.zeros_like(x)
    for c in range(x.shape[1]):
        ir = rng.standard_normal(n) * np.exp(-np.arange(n) / (0.25 * rate))
        ir = signal.lfilter([0.3], [1, -0.7], ir)
        ir *= level / np.sqrt(np.sum(ir ** 2))
        out[:, c] = signal.fftconvolve(x[:, c], ir)[: len(x)]
    return x + out


def voice(freq, dur, rate, rng, harmonics=12, bright=1.0, vibrato=5.0, attack=0.02):
    t = np.arange(int(dur * rate)) / rate
    f = freq * (1 + 0.004 * np.sin(2 * np.pi * vibrato * t + rng.uniform(0, 6)))
    phase = 2 * np.pi * np.cumsum(f) / rate
    y = np.zeros_like(t)
    for h in range(1, harmonics + 1):
        if h * freq > rate / 2 - 500:
            break
        y += np.sin(h * phase + rng.uniform(0, 6)) / h ** (1.5 / bright)
    env = np.minimum(1, t / attack) * np.exp(-t * 1.2)
    return y * env


def music(rate, n, rng):
    x = np.zeros((n, 2))
    chords = [[220, 277.2, 329.6], [196, 246.9, 293.7], [174.6, 220, 261.6], [164.8, 207.7, 246.9]]
    step = int(rate * 1.0)
    for k, start in enumerate(range(0, n, step)):
        chord = chords[k % len(chords)]
        for j, f in enumerate(chord + [2 * chord[0], 3 * chord[1]]):
            d = min(1.6, (n - start) / rate)
            v = voice(f, d, rate, rng, harmonics=30, bright=1.3)
            x[start:start + len(v)] += pan(v, -0.7 + 0.35 * j) * 0.25
        b = voice(chord[0] / 2, min(1.0, (n - start) / rate), rate, rng, harmonics=10, attack=0.005)
        x[start:start + len(b)] += pan(b, 0) * 0.5
    # Bright shimmer (cymbal-like noise) so that the top octave carries energy.
    sh = signal.lfilter(*signal.butter(4, 6000 / (rate / 2), "high"), rng.standard_normal((n, 2)), axis=0)
    env = 0.5 + 0.5 * np.abs(np.sin(np.pi * np.arange(n) / (0.5 * rate)))
    x += sh * env[:, None] * 0.02
    return normalise(reverb(x, rate, rng), -1.0)


def drums(rate, n, rng):
    x = np.zeros((n, 2))
    beat = int(rate * 60 / 120 / 2)  # eighth notes at 120 bpm
    for k, start in enumerate(range(0, n, beat)):
        m = min(int(0.4 * rate), n - start)
        t = np.arange(m) / rate
        if k % 4 == 0:  # kick
            f = 50 + 100 * np.exp(-t * 30)
            kick = np.sin(2 * np.pi * np.cumsum(f) / rate) * np.exp(-t * 8)
            x[start:start + m] += pan(kick, 0) * 0.9
        if k % 4 == 2:  # snare
            sn = signal.lfilter(*signal.butter(2, [800 / (rate / 2), 9000 / (rate / 2)], "band"),
                                rng.standard_normal(m)) * np.exp(-t * 20)
            sn += 0.4 * np.sin(2 * np.pi * 190 * t) * np.exp(-t * 25)
            x[start:start + m] += pan(sn, 0.1) * 0.7
        hat = signal.lfilter(*signal.butter(4, 7000 / (rate / 2), "high"), rng.standard_normal(m))
        hat *= np.exp(-t * (60 if k % 2 else 25))
        x[start:start + m] += pan(hat, 0.5) * 0.35
        if k % 2 == 0:
            bf = [55, 55, 65.4, 73.4][(k // 8) % 4]
            b = voice(bf, m / rate, rate, rng, harmonics=8, attack=0.003)
            x[start:start + len(b)] += pan(b, -0.1) * 0.5
        if k % 8 == 3:
            for j, f in enumerate([261.6, 329.6, 392.0]):
                v = voice(f, m / rate, rate, rng, harmonics=20, bright=1.5, attack=0.004)
                x[start:start + len(v)] += pan(v, -0.5 + 0.5 * j) * 0.15
    return normalise(reverb(x, rate, rng, 0.6, 0.15), -1.0)


def speech(rate, n, rng):
    y = np.zeros(n)
    pos = 0
    formants = [(730, 1090, 2440), (270, 2290, 3010), (300, 870, 2240), (530, 1840, 2480), (570, 840, 2410)]
    while pos < n:
        syll = int(rng.uniform(0.12, 0.3) * rate)
        m = min(syll, n - pos)
        t = np.arange(m) / rate
        if rng.uniform() < 0.3:  # fricative
            s = signal.lfilter(*signal.butter(2, [3000 / (rate / 2), min(0.95, 10000 / (rate / 2))], "band"),
                               rng.standard_normal(m)) * 0.3
        else:
            f0 = rng.uniform(100, 180) * (1 + 0.15 * np.sin(2 * np.pi * t / (t[-1] + 1e-3)))
            ph = np.cumsum(f0) / rate
            pulses = np.diff(np.floor(ph), prepend=0.0)
            src = signal.lfilter([1], [1, -0.97], pulses)
            s = np.zeros(m)
            for fc, bw in zip(formants[rng.integers(len(formants))], (80, 100, 120)):
                r = np.exp(-np.pi * bw / rate)
                s += signal.lfilter([1 - r], [1, -2 * r * np.cos(2 * np.pi * fc / rate), r * r], src)
        env = np.sin(np.pi * np.arange(m) / m) ** 0.5
        y[pos:pos + m] = s * env
        pos += m + (int(rng.uniform(0.05, 0.4) * rate) if rng.uniform() < 0.3 else 0)
    x = np.stack([y, 0.95 * y], 1) + 1e-4 * rng.standard_normal((n, 2))
    return normalise(reverb(x, rate, rng, 0.4, 0.1), -3.0)


def clicks(rate, n, rng):
    t = np.arange(n) / rate
    tones = sum(0.15 * np.sin(2 * np.pi * f * t) for f in (440, 1250, 3100))
    x = np.stack([tones, np.roll(tones, 37)], 1)
    for start in range(int(0.1 * rate), n, int(0.37 * rate)):
        m = min(64, n - start)
        click = rng.standard_normal(m) * np.exp(-np.arange(m) / 8.0)
        x[start:start + m] += pan(click, rng.uniform(-0.8, 0.8)) * 0.6
    return normalise(x, -1.0)


def plucks(rate, n, rng, level_db=-1.0):
    x = np.zeros((n, 2))
    notes = [196, 246.9, 293.7, 392, 493.9, 587.3, 784, 659.3, 523.3, 440]
    step = int(0.18 * rate)
    for k, start in enumerate(range(0, n, step)):
        f = notes[k % len(notes)] * (2 if k % 7 == 3 else 1)
        period = int(round(rate / f))
        m = min(int(2.5 * rate), n - start)
        buf = rng.uniform(-1, 1, period)
        y = np.zeros(m)
        # Karplus-Strong with a light averaging filter: long bright decays.
        for i in range(0, m, period):
            seg = buf[: min(period, m - i)]
            y[i:i + len(seg)] = seg
            buf = 0.996 * (0.8 * buf + 0.2 * np.roll(buf, 1))
        x[start:start + m] += pan(y, rng.uniform(-0.6, 0.6)) * 0.3
    return normalise(reverb(x, rate, rng, 0.8, 0.12), level_db)


def pink(rate, n, rng):
    w = rng.standard_normal((n, 2))
    b = [0.049922035, -0.095993537, 0.050612699, -0.004408786]
    a = [1, -2.494956002, 2.017265875, -0.522189400]
    return normalise(signal.lfilter(b, a, w, axis=0), -3.0)


def quiet(rate, n, rng):
    return plucks(rate, n, rng, -30.0)


def main():
    args = sys.argv[1:]
    seconds, rate, only = 20.0, 44100, NAMES
    if "--seconds" in args:
        i = args.index("--seconds"); seconds = float(args[i + 1]); del args[i:i + 2]
    if "--rate" in args:
        i = args.index("--rate"); rate = int(args[i + 1]); del args[i:i + 2]
    if "--only" in args:
        i = args.index("--only"); only = args[i + 1].split(","); del args[i:i + 2]
    out = args[0]
    os.makedirs(out, exist_ok=True)
    n = int(seconds * rate)
    for k, name in enumerate(only):
        rng = np.random.default_rng(1000 + NAMES.index(name))
        write_wav(os.path.join(out, name + ".wav"), globals()[name](rate, n, rng), rate)


if __name__ == "__main__":
    main()
