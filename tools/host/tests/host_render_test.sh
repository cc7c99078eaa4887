#!/usr/bin/env bash
# The stand-in host's "render" verb under Wine: a 16-bit stereo WAV made by
# ffmpeg renders through an AAC-LC template into a file that ffmpeg decodes
# without an error and ffprobe sees as AAC LC of the WAV's rate, channels and
# length plus the encoder's delay; a mono float WAV renders through the mono
# template; the HE-AAC templates give HE-AAC, and the HE-AAC v2 ones
# HE-AACv2, that ffprobe sees at 44.1 kHz in two channels; bad usage is
# refused.
set -uo pipefail
run="$VOG_SOURCE_DIR/scripts/wine-run"
host="$VOG_BIN_DIR/host.exe"
dll="$VOG_BIN_DIR/vogaac2.dll"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=2:sample_rate=44100" \
  -f lavfi -i "anoisesrc=duration=2:sample_rate=44100:amplitude=0.01" \
  -filter_complex "[0:a][1:a]amerge=inputs=2[a]" -map "[a]" -c:a pcm_s16le "$work/in.wav" || fail "ffmpeg source"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=1:sample_rate=32000" \
  -c:a pcm_f32le "$work/mono.wav" || fail "ffmpeg mono source"

# name, template, expected rate/channels, source frames
while read -r src preset rate ch frames; do
  out="$work/out_$preset.m4a"
  msg=$("$run" "$host" --dll "$dll" render "$(hostpath "$work/$src")" "$(hostpath "$out")" --preset "$preset" 2>&1 |
    tr -d '\r'); rc=$?
  [ "$rc" -eq 0 ] || { fail "render $src --preset $preset exited $rc: $msg"; continue; }
  case "$msg" in "rendered $frames frames"*) ;; *) fail "render printed: $msg" ;; esac
  err=$(ffmpeg -nostdin -v error -err_detect explode -xerror -i "$out" -f null - 2>&1)
  [ $? -eq 0 ] && [ -z "$err" ] || fail "ffmpeg decode of preset $preset: $err"
  got=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,profile,sample_rate,channels,duration_ts \
    -of default=nw=1:nk=1 "$out" | paste -sd/)
  ts=${got##*/}
  # LC renders present exactly the source through their edit list; HE-AAC
  # renders have none, so the encoder's delay (6324 frames at the output
  # rate) leads, padded to a whole unit of 2048 frames.
  case "$preset" in
    9 | 10 | 11 | 14) profile=HE-AAC delay=6324 unit=2048 ;;
    12 | 13) profile=HE-AACv2 delay=6787 unit=2048 ;;
    *) profile=LC delay=0 unit=1 ;;
  esac
  [ "${got%/*}" = "aac/$profile/$rate/$ch" ] || fail "ffprobe preset $preset: $got"
  [ "$ts" -ge $((frames + delay)) ] && [ "$ts" -lt $((frames + delay + unit)) ] ||
    fail "preset $preset duration_ts $ts for $frames frames"
done <<'LIST'
in.wav 4 44100 2 88200
in.wav 0 44100 2 88200
mono.wav 8 32000 1 32000
in.wav 9 44100 2 88200
in.wav 10 44100 2 88200
in.wav 11 44100 2 88200
in.wav 14 44100 2 88200
in.wav 12 44100 2 88200
in.wav 13 44100 2 88200
LIST

# Bad usage and a file that is no WAV.
"$run" "$host" --dll "$dll" render "$(hostpath "$work/in.wav")" > /dev/null 2>&1
[ $? -eq 2 ] || fail "render with one path is not a usage error"
"$run" "$host" --dll "$dll" render "$(hostpath "$work/out_4.m4a")" "$(hostpath "$work/x.m4a")" > /dev/null 2>&1
[ $? -eq 1 ] || fail "render of a non-WAV file did not fail"
[ ! -e "$work/x.m4a" ] || fail "render of a non-WAV file left a file"
[ "$status" -eq 0 ] && echo "host render: all checks passed"
exit "$status"
