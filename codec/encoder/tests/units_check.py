"""Checks the hand-quantised access units written by codec_encoder_noiseless_tests.

For each stream: put the units into an MP4 file, decode it with ffmpeg
(-err_detect explode -xerror), synthesise the intended dequantised spectra
with numpy (IMDCT of the standard, the four window sequences, sine and KBD
windows, overlap-add), and require ffmpeg's PCM and our decoder's PCM to match
the synthesis and each other.
"""
import os
import struct
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from asc_mp4 import write_mp4  # noqa: E402


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


def imdct(spectrum):
    half = len(spectrum)
    n_total = 2 * half
    n0 = (n_total / 2 + 1) / 2
    n = np.arange(n_total)
    k = np.arange(half)
    return 2.0 / n_total * (np.cos(2 * np.pi / n_total * np.outer(n + n0, k + 0.5)) @ spectrum)


def long_window(sequence, prev, cur):
    lw_prev, lw_cur = window(2048, prev), window(2048, cur)
    sw_prev, sw_cur = window(256, prev), window(256, cur)
    w = np.zeros(2048)
    if sequence in (0, 1):
        w[:1024] = lw_prev[:1024]
    else:
        w[448:576] = sw_prev[:128]
        w[576:1024] = 1.0
    if sequence in (0, 3):
        w[1024:] = lw_cur[1024:]
    else:
        w[1024:1472] = 1.0
        w[1472:1600] = sw_cur[128:]
    return w


def synthesise(spectra, windows, channels):
    frames = len(windows)
    out = np.zeros((frames * 1024, channels))
    for c in range(channels):
        overlap = np.zeros(1024)
        prev_shape = 0
        for f in range(frames):
            seq, shape = windows[f][2 * c], windows[f][2 * c + 1]
            x = spectra[f, c]
            if seq == 2:
                y = np.zeros(2048)
                for w in range(8):
                    sw = np.concatenate([window(256, prev_shape if w == 0 else shape)[:128], window(256, shape)[128:]])
                    y[448 + 128 * w:448 + 128 * w + 256] += imdct(x[128 * w:128 * (w + 1)]) * sw
            else:
                y = imdct(x) * long_window(seq, prev_shape, shape)
            out[f * 1024:(f + 1) * 1024, c] = y[:1024] + overlap
            overlap = y[1024:]
            prev_shape = shape
    return out / 32768.0


def snr(reference, test):
    err = np.sum((reference - test) ** 2)
    return 400.0 if err == 0 else 10 * np.log10(np.sum(reference ** 2) / err)


def main():
    folder = sys.argv[1]
    fail = False
    for name, channels, rate in (("mono44", 1, 44100), ("stereo48", 2, 48000)):
        base = os.path.join(folder, "nl_" + name)
        asc = open(base + ".asc", "rb").read()
        data = open(base + ".units", "rb").read()
        units = []
        pos = 0
        while pos < len(data):
            (size,) = struct.unpack_from("<I", data, pos)
            units.append(data[pos + 4:pos + 4 + size])
            pos += 4 + size
        windows = [list(map(int, line.split())) for line in open(base + ".windows.txt") if line.strip()]
        spectra = np.fromfile(base + ".spec.f64").reshape(len(units), channels, 1024)
        ours = np.fromfile(base + ".ours.f32", dtype=np.float32).reshape(-1, channels).astype(np.float64)
        m4a = base + ".m4a"
        write_mp4(m4a, asc, units, channels, rate, rate)
        run = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-err_detect", "explode", "-xerror",
                              "-ignore_editlist", "1", "-flags2", "skip_manual", "-i", m4a,
                              "-f", "f32le", "-acodec", "pcm_f32le", "-"], capture_output=True)
        if run.returncode != 0 or run.stderr:
            print(f"{name}: ffmpeg failed ({run.returncode}): {run.stderr.decode(errors='replace')}")
            fail = True
            continue
        theirs = np.frombuffer(run.stdout, dtype=np.float32).reshape(-1, channels).astype(np.float64)
        expected = synthesise(spectra, windows, channels)
        n = min(len(theirs), len(expected), len(ours))
        results = {
            "ffmpeg vs numpy": snr(expected[:n], theirs[:n]),
            "ours vs numpy": snr(expected[:n], ours[:n]),
            "ours vs ffmpeg": snr(theirs[:n], ours[:n]),
        }
        print(f"{name}: {len(units)} units, ffmpeg {len(theirs)} / ours {len(ours)} / numpy {len(expected)} samples, "
              + ", ".join(f"{k} {v:.1f} dB" for k, v in results.items()))
        if len(theirs) != len(expected) or len(ours) != len(expected):
            print(f"{name}: sample counts differ")
            fail = True
        for k, v in results.items():
            if v < 90.0:
                print(f"{name}: {k} SNR {v:.1f} dB below 90 dB")
                fail = True
    sys.exit(1 if fail else 0)


main()
