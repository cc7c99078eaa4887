#!/usr/bin/env bash
# Benchmark, not a test: callgrind instructions per audio second of
# `aacenc --bench` at each preset given (default: 10, HE-AAC 64 kbit/s, 13,
# HE-AAC v2 32 kbit/s, and 4, AAC-LC 128 kbit/s), and of ffmpeg's AAC-LC encoder at 128 kbit/s for scale.
# Needs valgrind, ffmpeg and ffprobe.
#   bench_callgrind.sh AACENC SOURCE.wav [PRESET...]
set -euo pipefail
aacenc=$1
src=$2
shift 2
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(10 13 4)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
seconds=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$src")
refs() { grep -o 'I *refs: *[0-9,]*' "$1" | tr -dc '0-9'; }
for p in "${presets[@]}"; do
  valgrind --tool=callgrind --callgrind-out-file="$tmp/cg" "$aacenc" --bench "$src" --preset "$p" >"$tmp/log" 2>&1
  awk -v n="$(refs "$tmp/log")" -v s="$seconds" -v p="$p" 'BEGIN{printf "aacenc preset %s: %.0f M instructions per audio second\n", p, n/s/1e6}'
done
# valgrind cannot run every ffmpeg build (rdtscp): then its CPU time, beside
# aacenc's own CPU time at preset 4, gives the scale.
if valgrind --tool=callgrind --callgrind-out-file="$tmp/cg" ffmpeg -nostdin -v error -threads 1 -i "$src" -c:a aac \
  -b:a 128k -f null - >"$tmp/log" 2>&1 && [ -n "$(refs "$tmp/log")" ]; then
  awk -v n="$(refs "$tmp/log")" -v s="$seconds" 'BEGIN{printf "ffmpeg aac 128k: %.0f M instructions per audio second\n", n/s/1e6}'
else
  ffmpeg -nostdin -benchmark -threads 1 -i "$src" -c:a aac -b:a 128k -f null - 2>&1 | grep -o 'utime=[0-9.]*s' |
    sed 's/^/ffmpeg aac 128k (callgrind cannot run it): /'
  "$aacenc" --bench "$src" --preset 4
fi
