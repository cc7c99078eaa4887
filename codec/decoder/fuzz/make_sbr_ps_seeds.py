#!/usr/bin/python3
"""Hand-made seeds of the SBR and PS payload targets, written bit by bit.

Usage: make_sbr_ps_seeds.py SBR_DIR PS_DIR

SBR seeds: a set-up byte, then payloads (1-byte length, bytes). The first
payload of each seed carries a header (start/stop frequency, crossover band,
the optional header parts) and the element's data as zero bits, whose
Huffman codes decode to small values; later payloads are frames without a
header and an empty one. PS seeds: blocks with every combination of the
IID/ICC modes, frame class, envelope count and extension flag, zero bits
for the coded values.
"""
import os
import sys


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, n):
        self.bits += [(value >> (n - 1 - i)) & 1 for i in range(n)]
        return self

    def zeros(self, n):
        return self.put(0, n)

    def bytes(self):
        b = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int(''.join(map(str, b[i:i + 8])), 2) for i in range(0, len(b), 8))


def sbr_payload(start, stop, xover, extra1, extra2, channel_pair, body_bits=160):
    b = Bits().put(13, 4)  # extension type nibble, read and skipped
    b.put(1, 1)  # header present
    b.put(1, 1).put(start, 4).put(stop, 4).put(xover, 3).put(0, 2)
    b.put(1 if extra1 else 0, 1).put(1 if extra2 else 0, 1)
    if extra1:
        b.put(extra1[0], 2).put(extra1[1], 1).put(extra1[2], 2)
    if extra2:
        b.put(extra2[0], 2).put(extra2[1], 2).put(extra2[2], 1).put(extra2[3], 1)
    b.zeros(body_bits * (2 if channel_pair else 1))
    return b.bytes()


def frame_without_header(n=20):
    return Bits().put(13, 4).put(0, 1).zeros(8 * n - 5).bytes()


def seed(setup, payloads):
    out = bytes([setup])
    for p in payloads:
        out += bytes([len(p)]) + p
    return out


def ps_block(header, iid_mode, icc_mode, ext, frame_class, env_idx):
    b = Bits().put(1 if header else 0, 1)
    if header:
        b.put(1, 1).put(iid_mode, 3).put(1, 1).put(icc_mode, 3).put(1 if ext else 0, 1)
    b.put(frame_class, 1).put(env_idx, 2)
    if frame_class:
        b.zeros(5 * 4)  # envelope borders
    b.zeros(200)
    return b.bytes()


def main():
    sbr_dir, ps_dir = sys.argv[1], sys.argv[2]
    os.makedirs(sbr_dir, exist_ok=True)
    os.makedirs(ps_dir, exist_ok=True)
    seeds = {}
    for setup in (0x05, 0x06, 0x07, 0x03, 0x0F, 0x17, 0x47, 0x04):
        pair = bool(setup & 0x10)
        for n, (start, stop, xover, e1, e2) in enumerate([
                (5, 9, 0, None, None), (7, 3, 0, None, None), (0, 14, 1, (0, 0, 3), None),
                (15, 15, 2, (3, 1, 0), (3, 3, 1, 0)), (9, 5, 0, (1, 0, 1), (0, 0, 0, 1))]):
            first = sbr_payload(start, stop, xover, e1, e2, pair)
            seeds['sbr-%02x-%d' % (setup, n)] = seed(setup, [first, frame_without_header(), b'', first[:6]])
    for name, data in seeds.items():
        open(os.path.join(sbr_dir, name), 'wb').write(data)
    n = 0
    for slots in (0, 1):
        for iid_mode in range(6):
            for frame_class in (0, 1):
                for env_idx in (0, 1, 3):
                    blocks = [ps_block(True, iid_mode, iid_mode % 6, iid_mode & 1, frame_class, env_idx),
                              ps_block(False, 0, 0, 0, frame_class, env_idx), b'']
                    data = bytes([slots]) + b''.join(bytes([len(p)]) + p for p in blocks)
                    open(os.path.join(ps_dir, 'ps-%03d' % n), 'wb').write(data)
                    n += 1


main()
