#!/usr/bin/env bash
# Independent checks of the files the MP4 writer test leaves in
# $VOG_FIXTURE_DIR/render (run after ffbase_tests): ffmpeg decodes each written
# file, failing on any error, to the same PCM as the ffmpeg file its units came
# from; ffprobe reports the same rate, channels and duration; mediainfo reads
# it as AAC; the titles written by extension are read back by ffprobe (iTunes
# item) and exiftool (3GPP asset).
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe mediainfo exiftool
dir="$VOG_FIXTURE_DIR/render"
src="$VOG_FIXTURE_DIR/readroad"
pass=0
fail=0
check() {  # name expected actual
  if [ "$2" == "$3" ]; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL $1: expected '$2', got '$3'"; fi
}
for name in lc_1ch_44100 lc_2ch_44100 lc_1ch_48000 lc_2ch_48000 lc_2ch_22050 lc_1ch_32000 lc_6ch_48000; do
  f="$dir/written_$name.mp4"
  if [ ! -s "$f" ]; then fail=$((fail + 1)); echo "FAIL $name: $f missing"; continue; fi
  ours=$(ffmpeg -v error -err_detect explode -xerror -ignore_editlist 1 -i "$f" -f f32le - | md5sum | cut -d' ' -f1)
  theirs=$(md5sum < "$src/$name.f32" | cut -d' ' -f1)
  check "$name decode md5" "$theirs" "$ours"
  read -r ch rate ts < "$src/$name.txt"
  probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,duration_ts \
    -of default=nw=1 "$f" | sort | tr '\n' ' ')
  check "$name ffprobe" "channels=$ch codec_name=aac duration_ts=$ts sample_rate=$rate " "$probe"
  info=$(mediainfo --Inform="Audio;%Format%/%Channels%/%SamplingRate%" "$f")
  check "$name mediainfo" "AAC/$ch/$rate" "$info"
done
check "iTunes title" "Render title" "$(ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 "$dir/tagged.m4a")"
check "3GPP title" "Render title" "$(exiftool -s3 -Title "$dir/tagged.MP4")"
check "empty file probes" "aac/2/44100" \
  "$(ffprobe -v error -show_entries stream=codec_name,channels,sample_rate -of csv=p=0 "$dir/empty.mp4" | awk -F, '{print $1"/"$3"/"$2}')"
echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
