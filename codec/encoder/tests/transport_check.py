"""Judges the ADTS and ADIF streams of codec_encoder_transport_tests.

For every case in tr_cases.txt: ffmpeg decodes the ADTS streams with
-err_detect crccheck+explode -xerror and prints nothing, at the stream's rate
and channel count (ffprobe), and each channel's strongest frequency is its
tone (rate / 16 Hz on the first channel, rate / 10 Hz on the second). faad
plays every stream (ADIF too: ffmpeg's raw reader cannot split an ADIF
stream into units) without an error, at the same rate, with the same tones. A
copy of one protected stream with one bit of its raw data flipped inside a
CRC-covered range must make ffmpeg's CRC check complain, so the check above
is known to be reading the CRC words.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np

folder = sys.argv[1]
failures = []


def ffmpeg_decode(path, extra=()):
    r = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", *extra, "-err_detect", "crccheck+explode", "-xerror",
                        "-i", path, "-f", "f32le", "-acodec", "pcm_f32le", "-"], capture_output=True)
    return r.returncode, r.stderr.decode(errors="replace"), r.stdout


def probe(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                        "stream=sample_rate,channels", "-of", "default=nw=1:nk=1", path],
                       capture_output=True, text=True)
    return r.stdout.split()


def peak_hz(x, rate):
    x = x[len(x) // 4:]
    spec = np.abs(np.fft.rfft(x * np.hanning(len(x))))
    return np.argmax(spec) * rate / len(x)


def check_tones(name, x, rate, channels):
    for c in range(channels):
        want = rate / (16.0 if c == 0 else 10.0)
        f = peak_hz(x[:, c], rate)
        if abs(f - want) > rate / 1000.0:
            failures.append("%s: channel %d peaks at %.1f Hz, not %.1f" % (name, c, f, want))


def read_wav16(path):
    d = open(path, "rb").read()
    ch = int.from_bytes(d[22:24], "little")
    i = d.find(b"data")
    return np.frombuffer(d[i + 8:], "<i2").reshape(-1, ch).astype(float) / 32768.0


cases = [line.split() for line in open(os.path.join(folder, "tr_cases.txt")) if line.strip()]
assert len(cases) == 72, len(cases)
with tempfile.TemporaryDirectory() as tmp:
    for name, rate, channels, kind in cases:
        rate, channels = int(rate), int(channels)
        path = os.path.join(folder, "tr_%s.aac" % name)
        # ffmpeg's raw AAC reader finds units by the ADTS sync word; an ADIF
        # stream has no unit boundaries, so faad alone judges those.
        if kind != "adif":
            code, err, pcm = ffmpeg_decode(path)
            if code != 0 or err:
                failures.append("%s: ffmpeg: %s" % (name, err.strip()[:200]))
                continue
            got = probe(path)
            if got != [str(rate), str(channels)]:
                failures.append("%s: ffprobe %s" % (name, got))
            check_tones(name, np.frombuffer(pcm, np.float32).reshape(-1, channels), rate, channels)
        wav = os.path.join(tmp, "faad.wav")
        r = subprocess.run(["faad", "-o", wav, path], capture_output=True, text=True)
        text = r.stdout + r.stderr
        if r.returncode != 0 or "rror" in text or not os.path.exists(wav):
            failures.append("%s: faad: %s" % (name, text.strip()[-200:]))
            continue
        fin = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels",
                              "-of", "default=nw=1:nk=1", wav], capture_output=True, text=True).stdout.split()
        # faad plays a mono stream on two channels, and a stream at 24 kHz or
        # less at twice its rate (it allows for SBR that a stream need not
        # announce); the tones stay where they are.
        out_rate = 2 * rate if rate <= 24000 else rate
        if fin != [str(out_rate), str(max(channels, 2))]:
            failures.append("%s: faad wrote %s" % (name, fin))
        else:
            x = read_wav16(wav)
            for c in range(channels):
                want = rate / (16.0 if c == 0 else 10.0)
                f = peak_hz(x[:, c], out_rate)
                if abs(f - want) > rate / 1000.0:
                    failures.append("%s (faad): channel %d peaks at %.1f Hz, not %.1f" % (name, c, f, want))
        os.remove(wav)
    # The CRC check is live: a flipped bit in the first element's protected
    # start of one unit is reported.
    data = bytearray(open(os.path.join(folder, "tr_adtscrc_44100_2.aac"), "rb").read())
    pos, n = 0, 0
    while n < 10:
        pos += (data[pos + 3] & 3) << 11 | data[pos + 4] << 3 | data[pos + 5] >> 5
        n += 1
    data[pos + 9 + 2] ^= 0x10
    bad = os.path.join(tmp, "bad.aac")
    open(bad, "wb").write(data)
    code, err, _ = ffmpeg_decode(bad)
    if code == 0 and not err:
        failures.append("a flipped bit under the CRC went unnoticed")
    print("%d streams decoded" % len(cases))

    # Converted input: the tone's pitch within 0.1 %, the burst's length
    # within one frame, its start where the reported delay puts it (within
    # one frame).
    for line in open(os.path.join(folder, "cv_cases.txt")):
        if not line.strip():
            continue
        name, rin, rout, delay = line.split()
        rin, rout, delay = int(rin), int(rout), int(delay)
        path = os.path.join(folder, "cv_%s.aac" % name)
        code, err, pcm = ffmpeg_decode(path)
        if code != 0 or err or probe(path) != [str(rout), "2"]:
            failures.append("cv %s: ffmpeg %s %s" % (name, probe(path), err.strip()[:200]))
            continue
        y = np.frombuffer(pcm, np.float32).reshape(-1, 2)[:, 0].astype(float)
        env = np.convolve(np.abs(y), np.ones(64) / 64, "same")
        on = np.nonzero(env > 0.5 * env.max())[0]
        start, end = on[0], on[-1]
        mid = y[start + rout // 10:end - rout // 10]
        n = 1 << 22
        spec = np.abs(np.fft.rfft(mid * np.hanning(len(mid)), n))
        f = np.argmax(spec) * rout / n
        length = (end - start) / rout
        lag = start / rout - 0.25
        print("cv %s: %.2f Hz, burst %.4f s, start %.4f s after the source's (delay %.4f s)"
              % (name, f, length, lag, delay / rin))
        if abs(f - 3000.0) > 3.0:
            failures.append("cv %s: tone at %.2f Hz" % (name, f))
        if abs(length - 1.0) > 1024.0 / rout:
            failures.append("cv %s: burst lasts %.4f s" % (name, length))
        if abs(lag - delay / rin) > 1024.0 / rout:
            failures.append("cv %s: burst starts %.4f s late, the delay says %.4f" % (name, lag, delay / rin))

for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
