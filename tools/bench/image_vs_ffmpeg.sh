#!/usr/bin/env bash
# Benchmark, not a test: the image library's frame conversions and scalers
# on 1920 x 1080 frames against ffmpeg's swscale on the same conversion, on
# one thread and on all, on one machine in one sitting.
#  - ours: kvimage_bench (Google Benchmark, wall-clock per frame), with
#    OMP_NUM_THREADS=1 and then without it (one thread a processor);
#  - ffmpeg: `-f rawvideo ... -vf ... -f null -` over FRAMES copies of one
#    frame, less a run of the same input without the filter (reading the raw
#    frames and start-up), per frame; one thread is `-threads 1
#    -filter_threads 1`, all threads the defaults.
# Each figure is the median of RUNS runs. The machine's load average is
# printed first: other work on the machine slows the all-thread figures most.
#
# On a machine shared with other work the all-thread figures measure that
# work more than the conversions: a row loop waits for its slowest thread, and
# the native OpenMP runtime's threads spin while they wait, taking processor
# time from the threads that have rows to do (the DLL's runtime waits on
# semaphores instead; OMP_WAIT_POLICY=passive gives the native build the
# same). With BENCH_PRIORITY=1 (as root) the whole comparison, ours and
# ffmpeg alike, runs in a scheduling group of its own at the highest priority,
# which gives figures close to those of a quiet machine.
#
# usage: [BENCH_PRIORITY=1] image_vs_ffmpeg.sh KVIMAGE_BENCH [WORKDIR [RUNS]]
set -euo pipefail
if [ "${BENCH_PRIORITY:-0}" = 1 ] && [ -z "${BENCH_PRIORITY_GROUP:-}" ]; then
  export BENCH_PRIORITY_GROUP=1
  exec setsid -w bash -c 'echo -20 > /proc/self/autogroup && exec nice -n -20 "$0" "$@"' "$0" "$@"
fi
bench=$1
work=${2:-$(dirname "$bench")/../bench/image}
runs=${3:-5}
frames=100
mkdir -p "$work"

# One frame of each input: a synthetic test picture as BGRA, UYVY and I420.
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }
[ -s "$work/bgra.raw" ] ||
  ff -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 1 -pix_fmt bgra -f rawvideo "$work/bgra.raw"
[ -s "$work/uyvy422.raw" ] ||
  ff -f rawvideo -pix_fmt bgra -s 1920x1080 -i "$work/bgra.raw" -pix_fmt uyvy422 -f rawvideo "$work/uyvy422.raw"
[ -s "$work/yuv420p.raw" ] ||
  ff -f rawvideo -pix_fmt bgra -s 1920x1080 -i "$work/bgra.raw" -pix_fmt yuv420p -f rawvideo "$work/yuv420p.raw"

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# Wall-clock seconds of one ffmpeg run: input pixel format, filter (empty:
# none), thread options.
ffrun() {
  local fmt=$1 vf=$2
  shift 2
  local filter=()
  [ -n "$vf" ] && filter=(-vf "$vf")
  ffmpeg -nostdin -hide_banner -benchmark -stream_loop $((frames - 1)) -f rawvideo -pix_fmt "$fmt" -s 1920x1080 \
    -i "$work/$fmt.raw" "$@" "${filter[@]}" -f null - 2>&1 | sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p'
}

# Milliseconds a frame of ffmpeg's conversion: the median over RUNS of the
# filtered run less its unfiltered run.
ffms() {
  local fmt=$1 vf=$2
  shift 2
  for ((i = 0; i < runs; i++)); do
    local with without
    with=$(ffrun "$fmt" "$vf" "$@")
    without=$(ffrun "$fmt" "" "$@")
    awk -v a="$with" -v b="$without" -v n=$frames 'BEGIN {printf "%.3f\n", (a - b) * 1000 / n}'
  done | median
}

# Milliseconds a frame of ours: the median over RUNS repetitions.
ourms() {
  local name=$1
  "$bench" --benchmark_filter="^$name/" --benchmark_repetitions="$runs" --benchmark_min_time=0.2 \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
    awk -F, -v n="\"$name/real_time_median\"" '$1 == n {printf "%.3f\n", $4}'
}

cases=(
  "UYVY -> BGRA|uyvy422|format=bgra|BM_UYVYToBGRA"
  "I420 -> BGRA|yuv420p|format=bgra|BM_I420ToBGRA"
  "BGRA -> I420, dithered|bgra|scale=sws_dither=bayer,format=yuv420p|BM_BGRAToI420"
  "bicubic 1080p -> 1440p|bgra|scale=2560:1440:flags=bicubic,format=bgra|BM_BicubicTo2560x1440"
  "bilinear half size|bgra|scale=960:540:flags=bilinear,format=bgra|BM_BilinearTo960x540"
)

echo "processors: $(nproc); load average: $(cut -d' ' -f1-3 /proc/loadavg);" \
  "own priority group: ${BENCH_PRIORITY_GROUP:-no}; OMP_WAIT_POLICY: ${OMP_WAIT_POLICY:-default}"
printf '%-24s %10s %10s %10s %10s %10s %10s\n' "ms a frame" "ours 1T" "ours allT" "ffmpeg 1T" "ffmpeg allT" \
  "1T ratio" "our speed-up"
for c in "${cases[@]}"; do
  IFS='|' read -r label fmt vf name <<<"$c"
  o1=$(OMP_NUM_THREADS=1 ourms "$name")
  oa=$(
    unset OMP_NUM_THREADS
    ourms "$name"
  )
  f1=$(ffms "$fmt" "$vf" -threads 1 -filter_threads 1)
  fa=$(ffms "$fmt" "$vf")
  awk -v l="$label" -v o1="$o1" -v oa="$oa" -v f1="$f1" -v fa="$fa" \
    'BEGIN {printf "%-24s %10.2f %10.2f %10.2f %10.2f %10.2f %9.1fx\n", l, o1, oa, f1, fa, o1 / f1, o1 / oa}'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
