#!/usr/bin/env bash
# The file rendered by the render-loop test (run after vogaac2_tests): ffmpeg
# decodes it without an error to the PCM of the ffmpeg file whose units the
# test replayed, ffprobe and mediainfo see an AAC track of the same duration,
# and the host's title arrived as an iTunes item.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe mediainfo
f="$VOG_FIXTURE_DIR/render/rendered_lc_2ch_44100.m4a"
src="$VOG_FIXTURE_DIR/readroad/lc_2ch_44100"
pass=0
fail=0
check() {
  if [ "$2" == "$3" ]; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL $1: expected '$2', got '$3'"; fi
}
if [ ! -s "$f" ]; then
  echo "FAIL: $f missing"
  echo "0 passed, 1 failed"
  exit 1
fi
check "decode md5" "$(md5sum < "$src.f32" | cut -d' ' -f1)" \
  "$(ffmpeg -v error -err_detect explode -xerror -ignore_editlist 1 -i "$f" -f f32le - | md5sum | cut -d' ' -f1)"
read -r ch rate ts < "$src.txt"
check "ffprobe" "$ch/$rate/$ts" "$(ffprobe -v error -select_streams a:0 -show_entries stream=channels,sample_rate,duration_ts \
  -of default=nw=1:nk=1 "$f" | paste -sd/ | awk -F/ '{print $2"/"$1"/"$3}')"
check "mediainfo" "AAC/$ch/$rate" "$(mediainfo --Inform="Audio;%Format%/%Channels%/%SamplingRate%" "$f")"
check "title" "Rendered title" "$(ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 "$f")"
# The file whose ID3v2 tag carries the host's markers and project link still
# decodes to the same PCM, and ffprobe reads it without complaint.
g="$VOG_FIXTURE_DIR/render/points_and_regions.mp4"
if [ -s "$g" ]; then
  check "tagged decode md5" "$(md5sum < "$src.f32" | cut -d' ' -f1)" \
    "$(ffmpeg -v error -err_detect explode -xerror -ignore_editlist 1 -i "$g" -f f32le - | md5sum | cut -d' ' -f1)"
  check "tagged ffprobe" "" "$(ffprobe -v error -show_format -show_streams "$g" 2>&1 >/dev/null)"
fi
echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
