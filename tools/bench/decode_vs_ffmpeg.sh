#!/usr/bin/env bash
# Benchmark, not a test: decoding CPU time of ours against ffmpeg's native AAC
# decoder on one machine in one sitting, for a long AAC-LC file, an HE-AAC
# file and an HE-AAC v2 file.
#  - ours: the whole `aacdec --bench` process (container reading included);
#  - ffmpeg: `-threads 1 -f null -` less a `-c copy` run of the same file
#    (its demuxing and start-up), each run paired with its own copy run.
# The two are run in turn RUNS times; printed are the medians in CPU seconds
# (user + system) per audio hour and the ratio of the medians, then
# callgrind instructions per audio second where valgrind can run the program
# (some ffmpeg builds stop valgrind at an instruction one of their libraries
# uses: that is said and the CPU-time figures stand alone).
#
# usage: decode_vs_ffmpeg.sh AACDEC AACENC [WORKDIR [RUNS]]
#   The files are made once in WORKDIR: LC 128 kbit/s stereo by ffmpeg,
#   HE-AAC (preset 10) and HE-AAC v2 (preset 13) by aacenc, 10 minutes each
#   of a synthetic mix (pink noise, a tremolo tone, a vibrato tone, echoes).
#   BENCH_NO_CALLGRIND=1 skips the instruction counts.
set -euo pipefail
aacdec=$1
aacenc=$2
work=${3:-$(dirname "$aacdec")/../bench}
runs=${4:-7}
secs=600
mkdir -p "$work"

src="$work/mix_$secs.wav"
if [ ! -s "$src" ]; then
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.15:duration=$secs:sample_rate=44100:seed=2" \
    -f lavfi -i "sine=frequency=330:duration=$secs:sample_rate=44100,tremolo=f=3:d=0.6" \
    -f lavfi -i "sine=frequency=1250:duration=$secs:sample_rate=44100,vibrato=f=5:d=0.3" \
    -filter_complex "[0][1][2]amerge=inputs=3,pan=stereo|c0=0.8*c0+0.4*c1+0.1*c2|c1=0.5*c0+0.2*c1+0.3*c2,aecho=0.8:0.7:40|97:0.4|0.3" \
    -c:a pcm_s16le "$src"
fi
[ -s "$work/lc128.m4a" ] || ffmpeg -nostdin -v error -y -i "$src" -c:a aac -b:a 128k "$work/lc128.m4a"
[ -s "$work/he64.m4a" ] || "$aacenc" "$src" "$work/he64.m4a" --preset 10 >/dev/null
[ -s "$work/hev2_32.m4a" ] || "$aacenc" "$src" "$work/hev2_32.m4a" --preset 13 >/dev/null

timing=$(mktemp)
trap 'rm -f "$timing"' EXIT
cpu() {  # user + system seconds of one run of the command
  /usr/bin/time -o "$timing" -f "%U %S" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f\n", $1 + $2 }' "$timing"
}
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
irefs() {  # callgrind instructions of one run, empty when valgrind cannot run it
  local log
  log=$(mktemp)
  if valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" >/dev/null 2>"$log"; then
    grep -o 'refs: *[0-9,]*' "$log" | tr -dc '0-9'
  fi
  rm -f "$log"
}

echo "processor: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) CPUs; runs: $runs, in turn"
printf "%-10s %9s %14s %14s %7s\n" file "audio s" "ours s/h" "ffmpeg s/h" ratio
for name in lc128 he64 hev2_32; do
  f="$work/$name.m4a"
  audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=duration -of csv=p=0 "$f")
  ours=() ffnet=()
  for _ in $(seq "$runs"); do
    ours+=("$(cpu "$aacdec" --bench "$f")")
    d=$(cpu ffmpeg -nostdin -v error -threads 1 -i "$f" -f null -)
    c=$(cpu ffmpeg -nostdin -v error -threads 1 -i "$f" -c copy -f null -)
    ffnet+=("$(awk -v d="$d" -v c="$c" 'BEGIN { printf "%.3f\n", d - c }')")
  done
  mo=$(printf '%s\n' "${ours[@]}" | median)
  mf=$(printf '%s\n' "${ffnet[@]}" | median)
  awk -v n="$name" -v a="$audio" -v o="$mo" -v f="$mf" 'BEGIN {
    printf "%-10s %9.1f %14.2f %14.2f %7.2f\n", n, a, o * 3600 / a, f * 3600 / a, (f > 0) ? o / f : 0 }'
  echo "           ours: ${ours[*]}; ffmpeg net: ${ffnet[*]}"
done

[ -n "${BENCH_NO_CALLGRIND:-}" ] && exit 0
command -v valgrind >/dev/null || { echo "callgrind: valgrind is not installed"; exit 0; }
for name in lc128 he64 hev2_32; do
  f="$work/$name.m4a"
  audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=duration -of csv=p=0 "$f")
  o=$(irefs "$aacdec" --bench "$f")
  d=$(irefs ffmpeg -nostdin -v error -threads 1 -i "$f" -f null -)
  c=$(irefs ffmpeg -nostdin -v error -threads 1 -i "$f" -c copy -f null -)
  if [ -n "$d" ] && [ -n "$c" ]; then
    awk -v n="$name" -v a="$audio" -v o="$o" -v f="$((d - c))" 'BEGIN {
      printf "callgrind %-8s ours %.2f M/s, ffmpeg %.2f M/s, ratio %.2f\n", n, o / a / 1e6, f / a / 1e6, o / f }'
  else
    awk -v n="$name" -v a="$audio" -v o="$o" 'BEGIN {
      printf "callgrind %-8s ours %.2f M/s; valgrind cannot run this ffmpeg\n", n, o / a / 1e6 }'
  fi
done
