#!/usr/bin/python3
"""AAC-LC encoder comparison: ours against ffmpeg's AAC encoder at every LC preset.

Usage: lc_bench.py [--sources DIR] [--work DIR] [--presets 0,1,..] [--only src,src]
                   [--seconds S] [--repeat N] [--encoder PATH to aacenc] [--nmr PATH]

For each preset and source, the source is converted to the preset's rate and
channel count (16-bit WAV), encoded by both encoders, decoded by ffmpeg and
scored with NMR-lite against the converted source. Prints one row per case:
NMR-lite (dB, lower is better) ours/ffmpeg, the decoded bandwidth (Hz), the
real bitrate (payload bits over the duration) and the CPU time of the encode
(median over --repeat runs; ffmpeg's own WAV reading, measured alone, taken
off), then the mean over sources per preset.

The sources come from lc_sources.py (made into --sources when missing).
`encode_ours` is the one place that knows our encoder's command line.
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

# Preset: (sample rate, channels, bit/s).
PRESETS = {
    0: (44100, 2, 128000),
    1: (44100, 2, 256000),
    2: (44100, 2, 192000),
    3: (44100, 2, 160000),
    4: (44100, 2, 128000),
    5: (44100, 2, 96000),
    6: (32000, 2, 64000),
    7: (22050, 2, 32000),
    8: (32000, 1, 32000),
}

ENCODER = os.path.join(REPO, "build", "native-bench", "bin", "aacenc")


def encode_ours(wav, out_base, preset):
    """Encodes wav with our encoder tool at the preset; returns (command, output file).

    The CPU time counted is the whole process: WAV reading and MP4 writing included.
    """
    out = out_base + ".m4a"
    return [ENCODER, wav, out, "--preset", str(preset)], out


def encode_ffmpeg(wav, out_base, preset):
    rate, channels, bitrate = PRESETS[preset]
    out = out_base + ".ffmpeg.m4a"
    return ["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", wav, "-c:a", "aac", "-b:a", str(bitrate), out], out


def cpu_run(cmd):
    """Runs cmd; returns the CPU time (user + system) of the child, in seconds."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def payload_bits(path):
    """Sum of the access units' bytes (containers and ADTS headers not counted) times 8."""
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "packet=size",
                          "-of", "csv=p=0", path], capture_output=True, text=True, check=True).stdout
    sizes = [int(v.strip(",")) for v in out.split() if v.strip(",")]
    header = 7 if path.endswith(".aac") else 0  # ADTS packets include their header
    return 8 * sum(v - header for v in sizes)


def nmr(nmr_tool, ref, test):
    out = subprocess.run([sys.executable, nmr_tool, ref, test], capture_output=True, text=True, check=True).stdout
    f = out.split()
    return {f[i]: float(f[i + 1]) for i in range(0, len(f) - 1, 2)}


def convert(src, dst, rate, channels, seconds):
    cmd = ["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", src]
    if seconds:
        cmd += ["-t", str(seconds)]
    subprocess.run(cmd + ["-ar", str(rate), "-ac", str(channels), "-c:a", "pcm_s16le", dst], check=True)


def median_cpu(cmd, repeat):
    return statistics.median(cpu_run(cmd) for _ in range(repeat))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sources", default="/tmp/lc_bench/sources")
    ap.add_argument("--work", default="/tmp/lc_bench/work")
    ap.add_argument("--presets", default="0,1,2,3,4,5,6,7,8")
    ap.add_argument("--only", default="")
    ap.add_argument("--seconds", type=float, default=0.0)
    ap.add_argument("--repeat", type=int, default=1)
    ap.add_argument("--encoder", default=None)
    ap.add_argument("--nmr", default=os.path.join(REPO, "..", "shared", "tools", "nmr_lite.py"))
    a = ap.parse_args()
    global ENCODER
    if a.encoder:
        ENCODER = a.encoder
    names = a.only.split(",") if a.only else None
    if not os.path.isdir(a.sources) or not os.listdir(a.sources):
        subprocess.run([sys.executable, os.path.join(HERE, "lc_sources.py"), a.sources], check=True)
    sources = sorted(f[:-4] for f in os.listdir(a.sources) if f.endswith(".wav"))
    if names:
        sources = [s for s in sources if s in names]
    os.makedirs(a.work, exist_ok=True)
    print("%-6s %-7s %8s %8s %7s %7s %8s %8s %7s %7s" % ("preset", "source", "nmr_us", "nmr_ff", "bw_us", "bw_ff",
                                                          "kbps_us", "kbps_ff", "cpu_us", "cpu_ff"))
    summary = []
    for p in [int(v) for v in a.presets.split(",")]:
        rate, channels, bitrate = PRESETS[p]
        rows = []
        for s in sources:
            wav = os.path.join(a.work, "%s_p%d.wav" % (s, p))
            convert(os.path.join(a.sources, s + ".wav"), wav, rate, channels, a.seconds)
            frames = os.path.getsize(wav) - 44
            duration = frames / (2.0 * channels * rate)
            base = os.path.join(a.work, "%s_p%d" % (s, p))
            cmd_us, out_us = encode_ours(wav, base, p)
            cmd_ff, out_ff = encode_ffmpeg(wav, base, p)
            cpu_us = median_cpu(cmd_us, a.repeat)
            cpu_ff = median_cpu(cmd_ff, a.repeat)
            read_ff = median_cpu(["ffmpeg", "-v", "error", "-nostdin", "-i", wav, "-f", "null", "-"], a.repeat)
            cpu_ff = max(0.0, cpu_ff - read_ff)
            m_us, m_ff = nmr(a.nmr, wav, out_us), nmr(a.nmr, wav, out_ff)
            r = (m_us["nmr_db"], m_ff["nmr_db"], m_us["bandwidth_hz"], m_ff["bandwidth_hz"],
                 payload_bits(out_us) / duration / 1000, payload_bits(out_ff) / duration / 1000, cpu_us, cpu_ff)
            rows.append(r)
            print("%-6d %-7s %8.2f %8.2f %7.0f %7.0f %8.1f %8.1f %7.2f %7.2f" % ((p, s) + r), flush=True)
        if rows:
            mean = [statistics.mean(r[i] for r in rows) for i in range(8)]
            wins = sum(1 for r in rows if r[0] <= r[1])
            summary.append((p, mean, wins, len(rows)))
            print("%-6d %-7s %8.2f %8.2f %7.0f %7.0f %8.1f %8.1f %7.2f %7.2f  (ours at or below: %d/%d)" %
                  ((p, "mean") + tuple(mean) + (wins, len(rows))), flush=True)
    print()
    print("preset  rate   ch  kbit/s  nmr_us  nmr_ff  delta  wins  cpu_us/cpu_ff")
    for p, m, w, n in summary:
        rate, channels, bitrate = PRESETS[p]
        print("%-6d %6d %3d %7d %7.2f %7.2f %6.2f %3d/%d  %.2f" % (p, rate, channels, bitrate // 1000, m[0], m[1],
                                                                  m[0] - m[1], w, n, m[6] / max(m[7], 1e-9)))


if __name__ == "__main__":
    main()
