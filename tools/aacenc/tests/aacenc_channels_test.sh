#!/usr/bin/env bash
# 5.1 and 7.1 through aacenc, as ADTS streams and MP4 files, from WAVs with a
# distinct tone per channel: ffmpeg decodes them without a message, ffprobe
# reports the channel count and a layout of that count, and every tone comes
# out of its own speaker (channels_check.py). faad plays the ADTS streams.
# Then the transport options --crc and --adif.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe faad py:numpy
here="$VOG_SOURCE_DIR/tools/aacenc/tests"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
/usr/bin/python3 "$here/channels_check.py" make "$out" || { echo "FAIL: sources"; exit 1; }
for n in 6 8; do
  for ext in aac m4a; do
    f="$out/ch$n.$ext"
    if ! run_build_tool aacenc "$out/ch$n.wav" "$f" --channels $n --bitrate $((n * 56000)) >"$out/log" 2>&1; then
      fail "$n channels .$ext: aacenc: $(cat "$out/log")"
      continue
    fi
    ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f" -f f32le "$out/dec.f32" -y 2>"$out/err"
    [ -s "$out/err" ] && fail "$n channels .$ext: ffmpeg: $(head -c 300 "$out/err")"
    probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=channels,channel_layout,sample_rate \
      -of default=nw=1 "$f")
    channels=$(echo "$probe" | sed -n 's/^channels=//p')
    layout=$(echo "$probe" | sed -n 's/^channel_layout=//p')
    rate=$(echo "$probe" | sed -n 's/^sample_rate=//p')
    [ "$channels" = "$n" ] && [ "$rate" = 48000 ] || fail "$n channels .$ext: ffprobe $probe"
    /usr/bin/python3 "$here/channels_check.py" judge "$out/ch$n.wav" "$out/dec.f32" "$n" "$layout" \
      || fail "$n channels .$ext: the tones are not in their channels"
    if [ "$ext" = aac ]; then
      faad -o "$out/faad.wav" "$f" >"$out/flog" 2>&1 && [ -s "$out/faad.wav" ] && ! grep -q rror "$out/flog" \
        || fail "$n channels: faad: $(tail -c 300 "$out/flog")"
    fi
  done
done
# The transport options: ADTS with CRC words (ffmpeg checks them), ADIF
# (faad reads it), and --adif for an MP4 name is a usage error.
if run_build_tool aacenc "$out/ch6.wav" "$out/crc.aac" --channels 6 --bitrate 336000 --crc >"$out/log" 2>&1; then
  ffmpeg -nostdin -v error -err_detect crccheck+explode -xerror -i "$out/crc.aac" -f null - 2>"$out/err"
  [ -s "$out/err" ] && fail "--crc: ffmpeg: $(head -c 300 "$out/err")"
else
  fail "--crc: aacenc: $(cat "$out/log")"
fi
if run_build_tool aacenc "$out/ch6.wav" "$out/adif.aac" --channels 6 --bitrate 336000 --adif >"$out/log" 2>&1; then
  [ "$(head -c 4 "$out/adif.aac")" = ADIF ] || fail "--adif: no ADIF header"
  faad -o "$out/faad.wav" "$out/adif.aac" >"$out/flog" 2>&1 && ! grep -q rror "$out/flog" \
    || fail "--adif: faad: $(tail -c 300 "$out/flog")"
else
  fail "--adif: aacenc: $(cat "$out/log")"
fi
run_build_tool aacenc "$out/ch6.wav" "$out/adif.m4a" --adif >/dev/null 2>&1
[ $? -eq 1 ] || fail "--adif with an MP4 name is not a usage error"
exit $status
