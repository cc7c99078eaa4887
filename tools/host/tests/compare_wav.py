"""Compares a 16-bit WAV written by the stand-in host with ffmpeg's float
decode, converted as the plug-in converts (16-bit scale, clip, truncate toward
zero), starting at a frame offset. Prints the largest difference; exit 1 when
a sample differs by more than the tolerance or the lengths disagree.

    compare_wav.py OUT.wav REF.f32 CHANNELS FIRST FRAMES [TOLERANCE]
"""
import sys
import wave

import numpy as np


def main():
    wav, ref, channels, first, frames = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
    tolerance = int(sys.argv[6]) if len(sys.argv) > 6 else 1
    with wave.open(wav) as w:
        if w.getsampwidth() != 2 or w.getnchannels() != channels:
            print(f"format: {w.getsampwidth() * 8} bits, {w.getnchannels()} channels")
            return 1
        got = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.int64)
    r = np.fromfile(ref, dtype="<f4").astype(np.float64) * 32768.0
    r = np.nan_to_num(r)
    r = np.trunc(np.clip(r, -32768.0, 32767.0)).astype(np.int64)
    want = r[first * channels:(first + frames) * channels]
    if len(got) != frames * channels or len(want) != len(got):
        print(f"length: got {len(got) // channels} frames, want {frames} (reference holds {len(want) // channels})")
        return 1
    diff = np.abs(got - want)
    worst = int(diff.max()) if len(diff) else 0
    print(f"frames {frames} largest difference {worst}")
    return 0 if worst <= tolerance else 1


if __name__ == "__main__":
    sys.exit(main())
