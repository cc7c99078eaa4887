"""Test signals of the end-to-end encoder tests, made with numpy.

Each is 10 s of float32 interleaved PCM at full scale +-1.0, written as
sig_<name>_<rate>_<channels>.f32:
  sweep   a logarithmic sine sweep 40 Hz - 16 kHz at -6 dBFS, the right channel
          a quarter period behind;
  pink    pink noise at about -12 dBFS rms, independent channels;
  music   plucked harmonic notes every 250 ms, panned, over a quiet noise bed;
  clicks  4 ms noise bursts every 200 ms over a -34 dB 500 Hz tone.
"""
import sys

import numpy as np

out = sys.argv[1]
SECONDS = 10


def sweep(rate, n):
    t = np.arange(n) / rate
    f0, f1 = 40.0, 16000.0
    k = np.log(f1 / f0) / SECONDS
    phase = 2 * np.pi * f0 * (np.exp(k * t) - 1) / k
    return np.stack([0.5 * np.sin(phase), 0.5 * np.sin(phase - np.pi / 2)], 1)


def pink(rate, n, rng):
    chans = []
    for _ in range(2):
        white = rng.standard_normal(n)
        spec = np.fft.rfft(white)
        f = np.fft.rfftfreq(n, 1 / rate)
        f[0] = f[1]
        spec /= np.sqrt(f)
        x = np.fft.irfft(spec, n)
        chans.append(x / np.sqrt(np.mean(x * x)) * 0.25)
    return np.stack(chans, 1)


def music(rate, n, rng):
    x = np.zeros((n, 2))
    notes = [220.0, 277.18, 329.63, 440.0, 392.0, 293.66, 246.94, 523.25]
    step = rate // 4
    length = rate
    t = np.arange(length) / rate
    for i, start in enumerate(range(0, n, step)):
        f = notes[i % len(notes)] * (1 + 0.5 * (i // 16 % 2))
        note = np.zeros(length)
        for h in range(1, 12):
            if f * h > rate / 2.2:
                break
            note += (0.6 / h) * np.exp(-t * (2.0 + h)) * np.sin(2 * np.pi * f * h * t + rng.uniform(0, 6.28))
        pan = 0.5 + 0.4 * np.sin(i * 0.7)
        m = min(length, n - start)
        x[start:start + m, 0] += 0.4 * (1 - pan) * note[:m]
        x[start:start + m, 1] += 0.4 * pan * note[:m]
    x += 0.003 * rng.standard_normal((n, 2))
    return x


def clicks(rate, n, rng):
    t = np.arange(n) / rate
    tone = 0.02 * np.sin(2 * np.pi * 500 * t)
    x = np.stack([tone, tone], 1)
    burst = int(0.004 * rate)
    for start in range(rate // 10, n - burst, rate // 5):
        x[start:start + burst] += 0.5 * rng.standard_normal((burst, 2))
    return x


def main():
    rng = np.random.default_rng(20261210)
    made = {}
    for rate in (44100, 48000):
        n = rate * SECONDS
        made[rate] = {"sweep": sweep(rate, n), "pink": pink(rate, n, rng), "music": music(rate, n, rng),
                      "clicks": clicks(rate, n, rng)}
    for rate, signals in made.items():
        for name, x in signals.items():
            x = np.clip(x, -1.0, 1.0).astype(np.float32)
            x.tofile(f"{out}/sig_{name}_{rate}_2.f32")
            x.mean(axis=1).astype(np.float32).tofile(f"{out}/sig_{name}_{rate}_1.f32")


main()
