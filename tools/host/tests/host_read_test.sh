#!/usr/bin/env bash
# The stand-in host's read verb under Wine: the whole read of ffmpeg fixtures
# (and a part of one) equals ffmpeg's float decode within 1 LSB; the printed
# length is ffprobe's duration in media units and the duration frames x 10^7 /
# rate; reads into another process's memory (plain and mapped) give the same
# file; every shared MP4 vector opens or is refused cleanly within a time limit.
set -uo pipefail
run="$VOG_SOURCE_DIR/scripts/wine-run"
host="$VOG_BIN_DIR/host.exe"
dll="$VOG_BIN_DIR/vogaac2.dll"
fix="$VOG_FIXTURE_DIR/readroad"
py=/usr/bin/python3
cmp_py="$(dirname "$0")/compare_wav.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool py:numpy
hostread() { "$run" "$host" --dll "$dll" read "$@" 2>&1 | tr -d '\r'; }
field() { sed -n "s/^$1 //p" <<<"$2"; }

for name in lc_1ch_22050 lc_2ch_44100 lc_6ch_48000 lc_2ch_32000; do
  read -r ch rate ts <"$fix/$name.txt"
  out=$(hostread "$(hostpath "$fix/$name.m4a")" "$(hostpath "$work/$name.wav")"); rc=$?
  [ $rc -eq 0 ] || { fail "$name: exit $rc: $out"; continue; }
  [ "$(field samples "$out")" = "$ts" ] || fail "$name: samples $(field samples "$out"), ffprobe says $ts"
  [ "$(field duration "$out")" = "$((ts * 10000000 / rate))" ] || fail "$name: duration $(field duration "$out")"
  grep -q "^format pcm channels=$ch rate=$rate bits=16 " <<<"$out" || fail "$name: format line: $out"
  [ "$(field read "$out")" = "$ts" ] || fail "$name: read $(field read "$out")"
  r=$("$py" "$cmp_py" "$work/$name.wav" "$fix/$name.f32" "$ch" 0 "$ts") || fail "$name: $r"
done

# A part of a file, in odd-sized blocks.
out=$(hostread "$(hostpath "$fix/lc_2ch_44100.m4a")" "$(hostpath "$work/part.wav")" --first 12345 --count 20000 --block 777)
[ "$(field read "$out")" = 20000 ] || fail "part: $out"
r=$("$py" "$cmp_py" "$work/part.wav" "$fix/lc_2ch_44100.f32" 2 12345 20000) || fail "part: $r"
# A count past the end stops at the track's length.
read -r ch rate ts <"$fix/lc_2ch_44100.txt"
out=$(hostread "$(hostpath "$fix/lc_2ch_44100.m4a")" "$(hostpath "$work/end.wav")" --first $((ts - 100)) --count 5000)
[ "$(field read "$out")" = 100 ] || fail "end: $out"

# Into another process's memory, plain and mapped: the same WAV as in-process.
for mode in --remote --remote-mapping; do
  out=$(hostread "$(hostpath "$fix/lc_6ch_48000.m4a")" "$(hostpath "$work/remote.wav")" $mode --block 1500)
  grep -q "^remote pid=" <<<"$out" || fail "$mode: $out"
  cmp -s "$work/remote.wav" "$work/lc_6ch_48000.wav" || fail "$mode: the samples differ from the in-process read"
done

# Shared vectors: open or a clean refusal; never a crash or a hang.
vec="$VOG_SHARED_DIR/vectors/mp4"
if [ -d "$vec" ]; then
  for f in "$vec"/*; do
    out=$(timeout 120 "$run" "$host" --dll "$dll" read "$(hostpath "$f")" "$(hostpath "$work/v.wav")" 2>&1 | tr -d '\r')
    rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || [ "$rc" -eq 1 ] || fail "$(basename "$f"): exit $rc: $out"
    grep -qi "unhandled\|exception\|backtrace" <<<"$out" && fail "$(basename "$f"): $out"
  done
else
  echo "skip: no shared vectors"
fi

[ $status -eq 0 ] && echo "host read: ok"
exit $status
