#!/usr/bin/python3
"""Resampled outputs of the sample-reader test against sox.

The reader's resampler (linear interpolation) is compared with sox's
high-quality resampler of the same mix: at lag 0 the difference must stay
35 dB below the signal (edges left out), the tone of each channel must sit in
the same FFT bin and keep its level within 0.1 dB.
"""
import os
import sys

import vogtools  # tests/support, on PYTHONPATH

vogtools.require(modules=["numpy"])
import numpy as np  # noqa: E402 (after the check that it is there)

fixtures = os.environ["VOG_FIXTURE_DIR"]
cases = [
    ("render/conv_s24_6ch_2ch_44100.f32", "renderpcm/ref_s24_6ch_2ch_44100.f32", 2),
    ("render/conv_f32_1ch_2ch_44100.f32", "renderpcm/ref_f32_1ch_44100.f32", 1),
    ("render/conv_s16_2ch_2ch_48000.f32", "renderpcm/ref_s16_2ch_48000.f32", 2),
]
passed = failed = 0


def check(name, ok, detail):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print(f"FAIL {name}: {detail}")


for ours_name, ref_name, channels in cases:
    try:
        ours = np.fromfile(os.path.join(fixtures, ours_name), dtype="<f4").reshape(-1, 2).astype(np.float64)
        ref = np.fromfile(os.path.join(fixtures, ref_name), dtype="<f4").reshape(-1, channels).astype(np.float64)
    except (OSError, ValueError) as e:
        check(ours_name, False, e)
        continue
    n = min(len(ours), len(ref))
    check(ours_name + " length", abs(len(ours) - len(ref)) <= 2, f"{len(ours)} frames, sox {len(ref)}")
    a = ours[200:n - 200, :channels]
    b = ref[200:n - 200]
    snr = 10 * np.log10((b ** 2).sum() / max(((a - b) ** 2).sum(), 1e-30))
    check(ours_name + " SNR", snr >= 35.0, f"{snr:.1f} dB against sox")
    for c in range(channels):
        m = min(len(a), 44000)
        w = np.hanning(m)
        A = np.abs(np.fft.rfft(a[:m, c] * w))
        B = np.abs(np.fft.rfft(b[:m, c] * w))
        check(f"{ours_name} ch{c} tone", np.argmax(A) == np.argmax(B), f"bin {np.argmax(A)}, sox {np.argmax(B)}")
        level = 20 * np.log10(A.max() / B.max())
        check(f"{ours_name} ch{c} level", abs(level) <= 0.1, f"{level:+.3f} dB against sox")

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
