#!/usr/bin/env bash
# The preset AudioSpecificConfigs written by codec_encoder_asc_tests, each put
# into an MP4 file with silent frames (asc_mp4.py): mediainfo must name the
# profile ("LC", "LC SBR", "LC SBR PS"), rate and channels; ffprobe must
# report the output rate; ffmpeg must decode the file without an error; faad
# must report the output rate too (it takes a core of 24 kHz or less without
# an explicit "no SBR" for an SBR stream at twice the rate).
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe mediainfo
have_faad=0
optional_tool faad && have_faad=1
dir="$VOG_FIXTURE_DIR/aacenc"
here="$(dirname "$0")"
fail=0
# name | coded channels | core rate | output rate | features | output channels
while IFS='|' read -r name coded core rate features channels; do
  asc="$dir/asc_$name.bin"
  m4a="$dir/asc_$name.m4a"
  if [[ ! -f $asc ]]; then echo "missing $asc"; fail=1; continue; fi
  /usr/bin/python3 "$here/asc_mp4.py" "$asc" "$m4a" "$coded" "$core" "$rate" 20
  got=$(mediainfo --Output=JSON "$m4a" | /usr/bin/python3 -c '
import json, sys
d = json.load(sys.stdin)
a = [t for t in d["media"]["track"] if t["@type"] == "Audio"][0]
print("%s|%s|%s|%s" % (a.get("Format"), a.get("Format_AdditionalFeatures"), a.get("SamplingRate"), a.get("Channels")))')
  want="AAC|$features|$rate|$channels"
  if [[ $got != "$want" ]]; then echo "$name: mediainfo says $got, expected $want"; fail=1; fi
  probed=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 "$m4a")
  if [[ $probed != "$rate" ]]; then echo "$name: ffprobe rate $probed, expected $rate"; fail=1; fi
  if ! err=$(ffmpeg -nostdin -v error -err_detect explode -xerror -i "$m4a" -f null - 2>&1) || [[ -n $err ]]; then
    echo "$name: ffmpeg decode failed: $err"; fail=1
  fi
  if [[ $have_faad == 1 ]]; then
    heard=$(faad -i "$m4a" 2>&1 | grep -o '[0-9]* Hz' | head -1 | cut -d' ' -f1 || true)
    if [[ $heard != "$rate" ]]; then echo "$name: faad rate $heard, expected $rate"; fail=1; fi
  fi
  echo "$name: $got"
done <<'TABLE'
lc44_stereo|2|44100|44100|LC|2
lc32_stereo|2|32000|32000|LC|2
lc22_stereo|2|22050|22050|LC|2
lc32_mono|1|32000|32000|LC|1
he_stereo|2|22050|44100|LC SBR|2
hev2|1|22050|44100|LC SBR PS|2
TABLE
exit $fail
