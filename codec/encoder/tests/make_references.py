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
