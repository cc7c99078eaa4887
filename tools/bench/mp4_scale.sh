#!/usr/bin/env bash
# Scale benchmark of the MP4 reading side: writes one-track 44.1 kHz AAC files
# of 1, 2.5, 5 and 10 hours (10 hours: about 1.55 million samples) with the
# container library's track writer, then reads each in a fresh process (box
# tree, track reader tables, every sample mapped to its byte range and time)
# and prints time and peak memory, with the per-sample figures that show both
# grow linearly. Builds the native-bench preset first.
#
# usage: tools/bench/mp4_scale.sh [WORKDIR]   (the files, about 110 MB in all,
#                                              are removed afterwards)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="${1:-$(mktemp -d)}"
mkdir -p "$work"
trap 'rm -f "$work"/scale_*.m4a' EXIT

cmake --preset native-bench -S "$root" >/dev/null
cmake --build "$root/build/native-bench" -j4 --target mp4_scale_bench >/dev/null
bench="$root/build/native-bench/bin/mp4_scale_bench"

runs=3
printf '%-6s %9s %9s %9s %9s %9s %9s %10s %10s\n' hours samples MB_file tree_ms init_ms walk_ms total_ms peak_MB ns/sample
for h in 1 2.5 5 10; do
  f="$work/scale_$h.m4a"
  "$bench" make "$h" "$f" >/dev/null
  best=""
  for r in $(seq $runs); do
    line="$("$bench" read "$f")"
    # keep the run with the smallest total time
    total=$(awk '{printf "%.1f", $4 + $6 + $8}' <<<"$line")
    if [ -z "$best" ] || awk -v a="$total" -v b="$(awk '{printf "%.1f", $4 + $6 + $8}' <<<"$best")" 'BEGIN{exit !(a < b)}'; then
      best="$line"
    fi
  done
  size=$(stat -c %s "$f")
  awk -v h="$h" -v size="$size" '{
    total = $4 + $6 + $8; peak = ($10 - $12) / 1024;
    printf "%-6s %9d %9.1f %9.1f %9.1f %9.1f %9.1f %10.1f %10.1f\n", h, $2, size / 1048576, $4, $6, $8, total, $10 / 1024, total * 1e6 / $2
  }' <<<"$best"
  awk '{ printf "       memory above the start of the process: %.1f MB, %.1f bytes per sample\n", ($10 - $12) / 1024, ($10 - $12) * 1024 / $2 }' <<<"$best"
  rm -f "$f"
done
