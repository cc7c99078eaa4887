#!/usr/bin/env bash
# Test inputs of the read road, made with ffmpeg: AAC-LC files for mono,
# stereo and 5.1 at four rates (PNS off, so that decoders agree), each with
# ffmpeg's float decode of every unit (edit list ignored) and ffprobe's
# duration in media units.
#   make_read_fixtures.sh FIXTURE_DIR
set -euo pipefail
out="$1/readroad"
mkdir -p "$out"
cd "$out"
for rate in 22050 32000 44100 48000; do
  for layout in mono stereo 5.1; do
    case $layout in
      mono) ch=1; exprs="0.5*sin(2*PI*440*t)"; br=64k ;;
      stereo) ch=2; exprs="0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t)+0.05*sin(2*PI*5000*t)"; br=128k ;;
      5.1) ch=6; exprs="0.5*sin(2*PI*440*t)|0.4*sin(2*PI*550*t)|0.3*sin(2*PI*660*t)|0.2*sin(2*PI*60*t)|0.3*sin(2*PI*880*t)|0.3*sin(2*PI*990*t)"; br=320k ;;
    esac
    name="lc_${ch}ch_${rate}"
    [ -s "$name.m4a" ] && [ -s "$name.f32" ] && [ -s "$name.txt" ] && continue
    ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs=${exprs}:s=${rate}:d=1.5" -channel_layout "$layout" \
      -c:a aac -aac_pns 0 -b:a "$br" "$name.m4a"
    ffmpeg -v error -y -ignore_editlist 1 -i "$name.m4a" -f f32le "$name.f32"
    ts=$(ffprobe -v error -ignore_editlist 1 -select_streams a:0 -show_entries stream=duration_ts \
      -of default=nw=1:nk=1 "$name.m4a")
    echo "$ch $rate $ts" > "$name.txt"
  done
done

# The plain one-second file of the documentation (45124 media units).
if [ ! -s sine_1s.m4a ]; then
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=1:sample_rate=44100" -ac 2 -c:a aac -aac_pns 0 sine_1s.m4a
fi
