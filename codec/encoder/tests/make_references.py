"""Reference data for the encoder tests, computed independently of the C++ code.

crc_cases.txt: random bit strings, split into three marked ranges (ADTS header,
single channel element, second channel stream), with the CRC-16 (polynomial
0x8005, start 0xFFFF) of the whole string and of the ranges as the ADTS CRC
protects them (56, 192 and 128 bits: cut when longer, zero-padded when shorter),
and the 8-bit CRC (polynomial 7, start 0) of the whole string.
"""
import random
import sys

import numpy as np

out = sys.argv[1]
rng = random.Random(20261210)


def crc16(bits, reg=0xFFFF, poly=0x8005):
    for b in bits:
        fb = ((reg >> 15) & 1) ^ b
        reg = (reg << 1) & 0xFFFF
        if fb:
            reg ^= poly
    return reg


def crc8(bits, reg=0, poly=0x07):
    for b in bits:
        fb = ((reg >> 7) & 1) ^ b
        reg = (reg << 1) & 0xFF
        if fb:
            reg ^= poly
    return reg


def protect(bits, n):
    return bits[:n] + [0] * max(0, n - len(bits))


with open(f"{out}/crc_cases.txt", "w") as f:
    for case in range(60):
        length = rng.choice([0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100, 255, 376, 1000, 2047, 4000])
        bits = [rng.randint(0, 1) for _ in range(length)]
        a = rng.randint(0, length)
        b = rng.randint(a, length)
        whole = crc16(bits)
        marked = crc16(protect(bits[:a], 56) + protect(bits[a:b], 192) + protect(bits[b:], 128))
        eight = crc8(bits)
        text = "".join(map(str, bits)) if bits else "-"
        f.write(f"{length} {a} {b} {whole} {marked} {eight} {text}\n")


# Direct O(N^2) MDCTs of two 2048-sample frames (random and a tone with an
# impulse), for every window sequence and pair of window shapes, windowed as
# the standard defines the four sequences. No factor 2: X[k] = sum z[n] cos(...).
def sine_window(length):
    n = np.arange(length)
    return np.sin(np.pi / length * (n + 0.5))


def kbd_window(length, alpha):
    half = length // 2
    n = np.arange(half + 1)
    kernel = np.i0(np.pi * alpha * np.sqrt(1.0 - ((n - half / 2.0) / (half / 2.0)) ** 2))
    cum = np.cumsum(kernel)
    rising = np.sqrt(cum[:half] / cum[half])
    return np.concatenate([rising, rising[::-1]])


def window(length, shape):
    return kbd_window(length, 4 if length == 2048 else 6) if shape else sine_window(length)


def mdct(z):
    n2 = len(z)
    n = n2 // 2
    t = np.arange(n2)
    k = np.arange(n)
    return np.cos(2 * np.pi / n2 * np.outer(k + 0.5, t + n / 2 + 0.5)) @ z


def long_window(sequence, prev, cur):
    lw_prev, lw_cur = window(2048, prev), window(2048, cur)
    sw_prev, sw_cur = window(256, prev), window(256, cur)
    w = np.zeros(2048)
    if sequence in (0, 1):
        w[:1024] = lw_prev[:1024]
    else:  # long stop
        w[448:576] = sw_prev[:128]
        w[576:1024] = 1.0
    if sequence in (0, 3):
        w[1024:] = lw_cur[1024:]
    else:  # long start
        w[1024:1472] = 1.0
        w[1472:1600] = sw_cur[128:]
    return w


nrng = np.random.default_rng(1234)
frames = [
    nrng.uniform(-32768, 32767, 2048).astype(np.float32),
    (8000 * np.sin(2 * np.pi * 1000.5 / 44100 * np.arange(2048))).astype(np.float32),
]
frames[1][1500] += 20000
for i, x in enumerate(frames):
    x = x.astype(np.float64)
    x.tofile(f"{out}/mdct_input{i}.f64")
    longs = [mdct(x * long_window(seq, prev, cur)) for seq in (0, 1, 3) for prev in (0, 1) for cur in (0, 1)]
    np.concatenate(longs).tofile(f"{out}/mdct_long{i}.f64")
    shorts = []
    for prev in (0, 1):
        for cur in (0, 1):
            sw = np.concatenate([window(256, prev)[:128], window(256, cur)[128:]])
            for w in range(8):
                shorts.append(mdct(x[448 + 128 * w:448 + 128 * w + 256] * sw))
    np.concatenate(shorts).tofile(f"{out}/mdct_short{i}.f64")


# Window energies of the attack detector for three consecutive frames of a
# noisy signal with a step: the first-order high-pass
# y[n] = 0.7548 (x[n] - x[n-1]) + 0.5095 y[n-1] (scipy.signal.lfilter, state
# carried across frames), plain and filtered energy of each 128-sample window.
from scipy.signal import lfilter

sig = (nrng.normal(0, 300, 3072) + np.where(np.arange(3072) > 1700, 4000.0, 0.0)).astype(np.float32)
b0 = float(np.float32(0.7548))
a1 = float(np.float32(-0.5095))
x = sig.astype(np.float64)
y = lfilter([b0, -b0], [1.0, a1], x)
plain = (x ** 2).reshape(24, 128).sum(axis=1)
filtered = (y ** 2).reshape(24, 128).sum(axis=1)
x.tofile(f"{out}/bs_signal.f64")
np.concatenate([plain, filtered]).tofile(f"{out}/bs_energies.f64")
