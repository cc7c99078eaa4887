#!/usr/bin/python3
"""Stereo-image checks of an HE-AAC v2 render, as ffmpeg decodes it.

ps_checks.py make DIR          writes the stereo sources below into DIR
ps_checks.py KIND SOURCE.wav RENDER.m4a DELAY   checks one render

KIND (and the source of the same name):
  pan          band-limited noises, each panned to its own level difference
               between -12 and +12 dB: each band's decoded level difference
               within 2 dB of the source's
  independent  independent noises in the two channels: the decoded
               channels' correlation below 0.4 in every parameter band above
               1 kHz (of the 10-band layout, within the coded range)
  same         the same noise in both channels, the right 3 dB down:
               correlation above 0.9 in the same bands
  mono         left = right: the decoded L - R at least 50 dB under L
  loud         partly correlated pink noise peaking at -2 dBFS: the overall
               level (both channels) of every 1/3-octave band from 100 Hz to
               14 kHz within 2 dB, and no decoded sample at or past full
               scale (the rebuilt stereo image moves waveform peaks by about
               a decibel either way: 2 dB of headroom is what a source needs)
"""
import struct
import subprocess
import sys

import numpy as np

RATE = 44100
SECONDS = 4
# Parameter bands of the 10-band layout above 1 kHz, in QMF bands of 344.5 Hz
# (the highest stops at 14 kHz, inside every preset's coded range).
PAR_BANDS = [(3, 5), (5, 7), (7, 9), (9, 14), (14, 23), (23, 40)]
QMF_HZ = RATE / 128
# Noise bands of the pan source (Hz) and their level differences (dB, left
# over right): each sits inside one parameter band with a gap to the next.
PANS = [(300, 700, -9), (1150, 1600, 12), (1850, 2300, -6), (3300, 4600, 6), (5100, 7600, -12), (9000, 13000, 3)]


def write_wav(path, x):
    x = np.asarray(x, dtype="<f4")
    fmt = struct.pack("<HHIIHH", 3, 2, RATE, RATE * 8, 8, 32)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + 8 + x.nbytes) + b"WAVEfmt " + struct.pack("<I", 16) + fmt)
        f.write(b"data" + struct.pack("<I", x.nbytes) + x.tobytes())


def read_wav(path):
    d = open(path, "rb").read()
    i = d.find(b"data")
    return np.frombuffer(d[i + 8:], dtype="<f4").reshape(-1, 2).astype(float)


def band(x, lo, hi):
    X = np.fft.rfft(x, axis=0)
    f = np.fft.rfftfreq(len(x), 1 / RATE)
    X[(f < lo) | (f >= hi)] = 0
    return np.fft.irfft(X, len(x), axis=0)


def make(out):
    rng = np.random.default_rng(18)
    n = RATE * SECONDS
    noise = lambda: rng.standard_normal(n)
    pan = np.zeros((n, 2))
    for lo, hi, db in PANS:
        b = band(noise(), lo, hi)
        g = 10 ** (db / 40)
        pan[:, 0] += b * g
        pan[:, 1] += b / g
    write_wav(out + "/pan.wav", 0.3 * pan / np.abs(pan).max())
    a, b = noise(), noise()
    write_wav(out + "/independent.wav", 0.1 * np.stack([a, b], axis=1))
    write_wav(out + "/same.wav", 0.1 * np.stack([a, a * 10 ** (-3 / 20)], axis=1))
    # Mono: music-like tones and noise, the same in both channels.
    t = np.arange(n) / RATE
    m = 0.2 * np.sin(2 * np.pi * 440 * t) * (1 + np.sin(2 * np.pi * 0.5 * t)) + 0.05 * band(noise(), 100, 15000)
    write_wav(out + "/mono.wav", np.stack([m, m], axis=1))
    spec = np.fft.rfft(rng.standard_normal((n, 2)), axis=0)
    f = np.maximum(np.arange(spec.shape[0]), 1)[:, None]
    p = np.fft.irfft(spec / np.sqrt(f), n, axis=0)
    p = p @ np.array([[1.0, 0.5], [0.3, 1.0]])  # partly correlated
    write_wav(out + "/loud.wav", 10 ** (-2 / 20) * p / np.abs(p).max())


def ffmpeg_decode(path):
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "f32le", "-ac", "2", "-"],
                         capture_output=True, check=True).stdout
    return np.frombuffer(out, dtype="<f4").reshape(-1, 2).astype(float)


def third_octaves(x):
    X = (np.abs(np.fft.rfft(x * np.hanning(len(x))[:, None], axis=0)) ** 2).sum(axis=1)
    f = np.fft.rfftfreq(len(x), 1 / RATE)
    out = []
    for c in 1000 * 2 ** (np.arange(-10, 12) / 3):
        a, b = c * 2 ** (-1 / 6), c * 2 ** (1 / 6)
        if a >= 100 and b <= 14000:
            out.append((c, 10 * np.log10(X[(f >= a) & (f < b)].sum() + 1e-30)))
    return out


def check(kind, src_path, m4a, delay):
    src = read_wav(src_path)
    dec = ffmpeg_decode(m4a)
    n = len(src)
    seg = dec[delay:delay + n]
    # The first and last half second: the encoder's start and the flush.
    cut = slice(RATE // 2, n - RATE // 2)
    seg, src = seg[cut], src[cut]
    bad = []
    if kind == "pan":
        res = []
        for lo, hi, db in PANS:
            b = band(seg, lo + 50, hi - 50)
            got = 10 * np.log10((b[:, 0] ** 2).sum() / (b[:, 1] ** 2).sum())
            res.append("%d-%d Hz %+.1f/%+.1f" % (lo, hi, got, db))
            if abs(got - db) > 2:
                bad.append("band %d-%d Hz: level difference %+.2f dB, source %+.0f dB" % (lo, hi, got, db))
        print("pan:", ", ".join(res))
    if kind in ("independent", "same"):
        res = []
        for k0, k1 in PAR_BANDS:
            b = band(seg, k0 * QMF_HZ, k1 * QMF_HZ)
            rho = (b[:, 0] * b[:, 1]).sum() / np.sqrt((b[:, 0] ** 2).sum() * (b[:, 1] ** 2).sum())
            res.append("%.0f Hz %.2f" % (k0 * QMF_HZ, rho))
            if kind == "independent" and rho >= 0.4:
                bad.append("independent noises correlate at %.2f from %.0f Hz" % (rho, k0 * QMF_HZ))
            if kind == "same" and rho <= 0.9:
                bad.append("the same noise correlates at only %.2f from %.0f Hz" % (rho, k0 * QMF_HZ))
        print(kind + ":", ", ".join(res))
    if kind == "mono":
        side = 10 * np.log10(((seg[:, 0] - seg[:, 1]) ** 2).sum() / (seg[:, 0] ** 2).sum() + 1e-30)
        print("mono: L - R %.1f dB under L" % -side)
        if side > -50:
            bad.append("the mono source decodes with L - R only %.1f dB under L" % -side)
    if kind == "loud":
        hs, hd = third_octaves(src), dict(third_octaves(seg))
        print("loud: 1/3 octaves", " ".join("%.0f:%+.1f" % (f, hd[f] - lv) for f, lv in hs))
        for f, lv in hs:
            if abs(hd[f] - lv) > 2:
                bad.append("the %.0f Hz band moved by %+.2f dB" % (f, hd[f] - lv))
        peak = np.abs(dec).max()
        print("loud: source peak %.3f, decoded peak %.3f" % (np.abs(src).max(), peak))
        if peak >= 1.0:
            bad.append("the decode clips (peak %.3f) where the source did not" % peak)
    for b in bad:
        print("FAIL:", b)
    return 1 if bad else 0


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(check(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])))
