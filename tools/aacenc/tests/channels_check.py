#!/usr/bin/python3
"""Multichannel renders through aacenc: one distinct tone per channel.

channels_check.py make DIR          writes DIR/ch6.wav (5.1) and DIR/ch8.wav
                                    (7.1), 48 kHz float WAV in the WAV channel
                                    order (L R C LFE, then the surrounds), with
                                    a tone of its own in every channel (the
                                    low-frequency channel's at 60 Hz)
channels_check.py judge WAV PCM N LAYOUT
                                    PCM is ffmpeg's f32le decode with N
                                    channels in the order of ffprobe's LAYOUT;
                                    every source tone must sit in the output
                                    channel of the same speaker, at least
                                    30 dB above its leak into any other
"""
import sys

import numpy as np

from make_sources import write_wav

RATE = 48000
TONES = [500.0, 700.0, 900.0, 60.0, 1300.0, 1700.0, 2100.0, 2500.0]
# WAV speaker order of 6 and 8 channels (ffmpeg's names).
WAV_SPEAKERS = {6: ["FL", "FR", "FC", "LFE", "BL", "BR"], 8: ["FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"]}
# ffmpeg's channel order of the layouts its AAC decoder reports.
LAYOUTS = {
    "5.1": ["FL", "FR", "FC", "LFE", "BL", "BR"],
    "5.1(side)": ["FL", "FR", "FC", "LFE", "SL", "SR"],
    "7.1": ["FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"],
    "7.1(wide)": ["FL", "FR", "FC", "LFE", "BL", "BR", "FLC", "FRC"],
    "7.1(wide-side)": ["FL", "FR", "FC", "LFE", "FLC", "FRC", "SL", "SR"],
}
# Speakers that a layout of the same channel count names differently
# (surround pairs placed as side or back): the source's speaker, then the
# names accepted for it.
SAME = {"BL": {"BL", "SL"}, "BR": {"BR", "SR"}}


def level(x, f):
    n = len(x)
    t = np.arange(n) / RATE
    w = np.hanning(n)
    return abs(np.sum(x * w * np.exp(-2j * np.pi * f * t))) / n + 1e-12


if sys.argv[1] == "make":
    t = np.arange(2 * RATE) / RATE
    for n in (6, 8):
        x = np.stack([0.2 * np.sin(2 * np.pi * TONES[c] * t) for c in range(n)], axis=1)
        write_wav("%s/ch%d.wav" % (sys.argv[2], n), x, RATE)
    sys.exit(0)

wav, pcm, n, layout = sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
assert layout in LAYOUTS and len(LAYOUTS[layout]) == n, "layout %s for %d channels" % (layout, n)
names = LAYOUTS[layout]
y = np.fromfile(pcm, "<f4").reshape(-1, n)[RATE // 2:RATE // 2 + RATE].astype(float)
bad = []
for c, speaker in enumerate(WAV_SPEAKERS[n]):
    levels = [level(y[:, k], TONES[c]) for k in range(n)]
    k = int(np.argmax(levels))
    want = SAME.get(speaker, {speaker})
    if names[k] not in want:
        bad.append("%s tone (%.0f Hz) in %s" % (speaker, TONES[c], names[k]))
    others = max(levels[j] for j in range(n) if j != k)
    margin = 20 * np.log10(levels[k] / others)
    if margin < 30:
        bad.append("%s tone leaks: %.1f dB" % (speaker, margin))
    print("%s -> %s (%.1f dB above the rest)" % (speaker, names[k], margin))
for b in bad:
    print("FAIL: " + b)
sys.exit(1 if bad else 0)
