#!/bin/bash
# HE-AAC v2 decoding cost against ffmpeg, in callgrind instructions per audio
# second (repeatable on a shared machine, unlike wall time).
#   heaac_bench.sh DECODER [heaac.mp4]
# DECODER is a program run as "DECODER --bench FILE" (the aacdec tool of the
# native-bench build). heaac.mp4 is looped to 10 minutes first; ffmpeg's
# figure is its decode minus its demux-only run (-c copy) of the same file.
set -euo pipefail
dec="$1"
src="${2:-$(dirname "$0")/../../../../shared/vectors/mp4/heaac.mp4}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
ffmpeg -nostdin -v error -stream_loop 7 -i "$src" -c copy -t 600 "$tmp/heaac_600.mp4"
secs=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$tmp/heaac_600.mp4")
# The decoder's exit status is not the point here (a tool may count units it
# could not write as failures); only the instruction count is read.
ir() {
  { valgrind --tool=callgrind --callgrind-out-file="$tmp/cg.out" "$@" 2>&1 >/dev/null || true; } |
    sed -n 's/.*refs: *//p' | tr -d ,
}
ours=$(ir "$dec" --bench "$tmp/heaac_600.mp4")
ff=$(ir ffmpeg -nostdin -v error -i "$tmp/heaac_600.mp4" -f null -)
ffcopy=$(ir ffmpeg -nostdin -v error -i "$tmp/heaac_600.mp4" -c copy -f null -)
/usr/bin/python3 - "$secs" "$ours" "$ff" "$ffcopy" <<'PY'
import sys
secs, ours, ff, copy = float(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
o = ours / secs
f = (ff - copy) / secs
print('audio %.1f s' % secs)
print('ours   %.2f M instructions per audio second (total %d)' % (o / 1e6, ours))
print('ffmpeg %.2f M instructions per audio second (decode %d - demux %d)' % (f / 1e6, ff, copy))
print('ratio  %.2f (goal: at most 1.5)' % (o / f))
PY
