#!/usr/bin/env bash
# Temporal noise shaping through aacenc (--aot 2 codes with it, --aot 129
# without), judged on ffmpeg's decodes (tns_check.py): on castanet-like
# clicks over quiet tones the pre-echo before the clicks does not rise by
# more than 1 dB with TNS (long-window filters only; they act on the frames
# before the short ones), on a steady tone no frame is worse, and our decoder
# and ffmpeg decode a TNS stream alike.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe py:numpy py:scipy
here="$VOG_SOURCE_DIR/tools/aacenc/tests"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
/usr/bin/python3 "$here/tns_check.py" make "$out" || { echo "FAIL: sources"; exit 1; }
# encode SOURCE BITRATE AOT: writes $out/SOURCE_BITRATE_AOT.f32, ffmpeg's decode.
encode() {
  local f="$out/$1_$2_$3"
  if ! run_build_tool aacenc "$out/$1.wav" "$f.aac" --channels 2 --bitrate "$2" --aot "$3" >"$out/log" 2>&1; then
    fail "$1 at $2 bit/s, type $3: aacenc: $(cat "$out/log")"
    return 1
  fi
  ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f.aac" -f f32le "$f.f32" -y 2>"$out/err"
  [ -s "$out/err" ] && { fail "$1 at $2 bit/s, type $3: ffmpeg: $(head -c 300 "$out/err")"; return 1; }
  rate=$(ffprobe -v error -show_entries stream=sample_rate -of csv=p=0 "$f.aac")
}
for br in 64000:-1 128000:-1; do
  bitrate=${br%:*}
  encode castanets "$bitrate" 2 && encode castanets "$bitrate" 129 || continue
  /usr/bin/python3 "$here/tns_check.py" preecho "$out/castanets.wav" "$out/castanets_${bitrate}_2.f32" \
    "$out/castanets_${bitrate}_129.f32" "$rate" "${br#*:}" || fail "pre-echo at $bitrate bit/s"
done
if encode steady 128000 2 && encode steady 128000 129; then
  /usr/bin/python3 "$here/tns_check.py" steady "$out/steady.wav" "$out/steady_128000_2.f32" \
    "$out/steady_128000_129.f32" "$rate" || fail "steady tone"
fi
# Our decoder on the MP4 form of the TNS stream, against ffmpeg's decode of
# it (our decoder keeps the priming samples; ffmpeg drops them by the edit list).
if run_build_tool aacenc "$out/castanets.wav" "$out/c.m4a" --channels 2 --bitrate 128000 >"$out/log" 2>&1 &&
   run_build_tool aacdec "$out/c.m4a" "$out/ours.wav" >"$out/log" 2>&1; then
  ffmpeg -nostdin -v error -i "$out/c.m4a" -f f32le "$out/c.f32" -y 2>"$out/err"
  /usr/bin/python3 "$here/tns_check.py" same "$out/ours.wav" "$out/c.f32" || fail "our decoder and ffmpeg differ"
else
  fail "MP4 round: $(cat "$out/log")"
fi
exit $status
