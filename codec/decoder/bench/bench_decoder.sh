#!/usr/bin/env bash
# Decoder speed, ours against ffmpeg's native AAC decoder, on the same
# 10-minute 128 kb/s stereo AAC-LC file:
#  - callgrind instructions per second of audio: ours counted inside the
#    decoding calls only (feed, reset, decode), ffmpeg's as its decode run
#    minus a demux-only run (-c copy);
#  - wall time of `aacdec --bench` against `ffmpeg -f null` (median of runs).
# Usage: bench_decoder.sh AACDEC [WORKDIR]. Fails when ours needs more than
# 1.5 times ffmpeg's instructions.
set -euo pipefail
aacdec="$1"
work="${2:-$(dirname "$aacdec")/../bench}"
mkdir -p "$work"
src="$work/lc128_600.m4a"
secs=600
if [ ! -s "$src" ]; then
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.25:duration=$secs:sample_rate=44100:seed=1" \
    -f lavfi -i "sine=frequency=440:duration=$secs:sample_rate=44100" \
    -filter_complex "[0][1]amerge=inputs=2,pan=stereo|c0=c0+0.3*c1|c1=0.7*c0+0.3*c1" \
    -c:a aac -b:a 128k "$src"
fi
audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=duration -of csv=p=0 "$src")

ir() {  # total instructions of a callgrind run
  local out="$work/cg.$1"; shift
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>"$out.log"
  grep -E "^summary:|^totals:" "$out" | head -1 | awk '{print $2}'
}
ours=$(ir ours --toggle-collect='mp4AudioDecDecodeAu*' --toggle-collect='auBufferFeed*' \
  --toggle-collect='auBufferReset*' --toggle-collect='cuBufferReset*' "$aacdec" --bench "$src")
ffdec=$(ir ffdec ffmpeg -nostdin -v error -i "$src" -f null -)
ffcopy=$(ir ffcopy ffmpeg -nostdin -v error -i "$src" -c copy -f null -)
ffnet=$((ffdec - ffcopy))

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
walltime() {
  for _ in 1 2 3 4 5; do
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
  done | median
}
w_ours=$(walltime "$aacdec" --bench "$src")
w_ff=$(walltime ffmpeg -nostdin -v error -i "$src" -f null -)

awk -v a="$audio" -v o="$ours" -v f="$ffnet" -v fd="$ffdec" -v fc="$ffcopy" -v wo="$w_ours" -v wf="$w_ff" 'BEGIN {
  printf "audio: %.1f s (128 kb/s stereo AAC-LC, 44.1 kHz)\n", a
  printf "callgrind, ours:   %.0f instructions = %.2f M per audio second\n", o, o / a / 1e6
  printf "callgrind, ffmpeg: %.0f - %.0f (demux) = %.0f = %.2f M per audio second\n", fd, fc, f, f / a / 1e6
  printf "instruction ratio ours/ffmpeg: %.2f (limit 1.5)\n", o / f
  printf "wall, ours:   %.3f s (%.0f x real time)\n", wo, a / wo
  printf "wall, ffmpeg: %.3f s (%.0f x real time, whole command)\n", wf, a / wf
  printf "wall ratio ours/ffmpeg: %.2f\n", wo / wf
  exit (o / f <= 1.5) ? 0 : 1
}'
