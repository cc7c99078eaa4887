#!/usr/bin/python3
"""Writes reference data for the SBR library tests.

codewords.txt: "<table> <value> <length> <bits>" for every SBR and PS codeword.
start_rows.txt: "<fs> <offset x16>" per SBR rate class.
qmf_in.f32 / qmf_ana_re.f32 / qmf_ana_im.f32: an input signal and the
32-band complex analysis computed from the standard's closed form.
"""
import json
import sys

import numpy as np

src, out = sys.argv[1], sys.argv[2]

with open(out + '/codewords.txt', 'w') as f:
    for name in ('sbr_huffman.json', 'ps_huffman.json'):
        for t in json.load(open(src + '/' + name))['tables']:
            for i, (c, n) in enumerate(zip(t['codes'], t['lengths'])):
                bits = format(c, '0%db' % n)
                f.write('%s %d %d %s\n' % (t['name'], i - t['index_offset'], n, bits))

st = json.load(open(src + '/sbr_tables.json'))
with open(out + '/start_rows.txt', 'w') as f:
    for row in st['start_frequency_offsets']['rows']:
        for fs in row['applies_to_hz']:
            f.write('%d %s\n' % (fs, ' '.join(str(v) for v in row['offsets'])))
with open(out + '/start_stop.txt', 'w') as f:
    for r in st['start_stop_minimum_and_stop_offsets']['per_rate']:
        f.write('%d %d %d %s\n' % (r['fs_sbr_hz'], r['startMin'], r['stopMin'],
                                   ' '.join(str(v) for v in r['stop_offset_by_bs_stop_freq_0_to_13'])))

# 32-band complex analysis, closed form, of a test signal (3 frames of 1024).
c = np.array(st['qmf_window']['values'], dtype=np.float64)
rng = np.random.default_rng(1234)
n_in = 3 * 1024
x = (rng.standard_normal(n_in) * 1000.0).astype(np.float32)
x += (8000.0 * np.sin(2 * np.pi * 0.013 * np.arange(n_in))).astype(np.float32)
x.tofile(out + '/qmf_in.f32')
hist = np.concatenate([np.zeros(288), x.astype(np.float64)])
slots = n_in // 32
k = np.arange(32)[:, None]
n = np.arange(64)[None, :]
mod = 2.0 * np.exp(1j * np.pi * (k + 0.5) * (2 * n - 0.5) / 64.0)
X = np.zeros((slots, 32), dtype=np.complex128)
for s in range(slots):
    buf = hist[s * 32: s * 32 + 320][::-1]          # newest first
    z = buf * c[0:640:2]
    u = z.reshape(5, 64).sum(axis=0)
    X[s] = (mod * u[None, :]).sum(axis=1)
X.real.astype(np.float32).tofile(out + '/qmf_ana_re.f32')
X.imag.astype(np.float32).tofile(out + '/qmf_ana_im.f32')
