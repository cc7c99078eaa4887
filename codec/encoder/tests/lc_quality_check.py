#!/usr/bin/python3
"""Our AAC-LC encoder (lc_encode_tool, ADTS out) against ffmpeg's AAC encoder.

Usage: lc_quality_check.py ENCODER NMR_LITE LC_SOURCES

Two sources (dense music, pink noise; 6 s, made by lc_sources.py) at three
presets (44.1 kHz stereo 256k and 128k, 32 kHz mono 32k), both encoders'
streams decoded by ffmpeg. Checks per case:
- NMR-lite of ours at or below ffmpeg's at the same rate, rate and channels;
- the reported bandwidth follows the bitrate rule, and on pink noise (content
  everywhere) the decoded bandwidth reaches it;
- the real bitrate (payload over the duration) within 3% of the preset's;
- the stream decodes under `ffmpeg -err_detect explode`;
- the decoded stream lags the input by the reported delay (ADTS carries no
  edit list);
- every access unit within 6144 bits per channel.
"""
import os
import subprocess
import sys
import tempfile

CASES = [  # (preset name, rate, channels, bit/s, bandwidth of the rule)
    ("p1_256k", 44100, 2, 256000, 20000),
    ("p4_128k", 44100, 2, 128000, 17000),
    ("p8_mono32k", 32000, 1, 32000, 10500),
]
SOURCES = ["music", "pink"]
SECONDS = 6

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def nmr(tool, ref, test):
    out = run([sys.executable, tool, ref, test], check=True).stdout.split()
    return {out[i]: float(out[i + 1]) for i in range(0, len(out) - 1, 2)}


def adts_units(path):
    data = open(path, "rb").read()
    pos, sizes = 0, []
    while pos + 7 <= len(data):
        if data[pos] != 0xFF or (data[pos + 1] & 0xF6) != 0xF0:
            return None
        length = ((data[pos + 3] & 3) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5)
        sizes.append(length - 7)
        pos += length
    return sizes if pos == len(data) else None


def main():
    encoder, nmr_tool, sources_tool = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="lc_quality_")
    subprocess.run([sys.executable, sources_tool, work, "--seconds", str(SECONDS), "--only", ",".join(SOURCES)],
                   check=True)
    for name, rate, channels, bitrate, bandwidth in CASES:
        for src in SOURCES:
            tag = "%s %s" % (src, name)
            wav = os.path.join(work, "%s_%s.wav" % (src, name))
            subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", os.path.join(work, src + ".wav"),
                            "-ar", str(rate), "-ac", str(channels), "-c:a", "pcm_s16le", wav], check=True)
            ours, theirs = wav[:-4] + ".aac", wav[:-4] + ".ffmpeg.m4a"
            r = run([encoder, wav, ours, str(bitrate)])
            if r.returncode != 0:
                check(False, "%s: our encoder failed: %s" % (tag, r.stderr.strip()))
                continue
            info = r.stdout.split()
            delay, reported = int(info[1]), float(info[3])
            subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", wav, "-c:a", "aac", "-b:a",
                            str(bitrate), theirs], check=True)
            a, b = nmr(nmr_tool, wav, ours), nmr(nmr_tool, wav, theirs)
            check(a["nmr_db"] <= b["nmr_db"], "%s: NMR-lite ours %.2f dB, ffmpeg %.2f dB" %
                  (tag, a["nmr_db"], b["nmr_db"]))
            check(reported == bandwidth, "%s: reported bandwidth %.0f Hz, rule %d Hz" % (tag, reported, bandwidth))
            if src == "pink":
                check(bandwidth - 500 <= a["bandwidth_hz"] <= bandwidth + 1000,
                      "%s: decoded bandwidth %.0f Hz for a rule of %d Hz" % (tag, a["bandwidth_hz"], bandwidth))
            check(a["lag"] == -delay, "%s: decoded lag %d, reported delay %d" % (tag, a["lag"], delay))
            sizes = adts_units(ours)
            check(sizes is not None, "%s: ADTS stream well formed" % tag)
            if sizes is None:
                continue
            check(max(sizes) * 8 <= 6144 * channels, "%s: largest unit %d bits, limit %d" %
                  (tag, max(sizes) * 8, 6144 * channels))
            # The units past the input's end carry the delay's flush: the
            # bitrate counts the units of the input's duration.
            frames = SECONDS * rate // 1024
            real = 8 * sum(sizes[:frames]) / (frames * 1024 / rate)
            check(abs(real / bitrate - 1) <= 0.03, "%s: real bitrate %.0f, preset %d" % (tag, real, bitrate))
            e = run(["ffmpeg", "-v", "error", "-nostdin", "-err_detect", "explode", "-i", ours, "-f", "null", "-"])
            check(e.returncode == 0 and not e.stderr.strip(), "%s: clean under -err_detect explode %s" %
                  (tag, e.stderr.strip()[:200]))
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
