#!/usr/bin/env bash
# Makes the MP4 test files of the container library with ffmpeg and
# AtomicParsley into the fixture folder ($1). Generated at test time, never
# committed. Without the tools it leaves a marker and skips, or fails under CI.
set -euo pipefail
out="$1/mp4"
mkdir -p "$out"
cd "$out"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool_or_mark MISSING_TOOLS ffmpeg AtomicParsley
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }

# AAC-LC at several layouts and rates, moov at the end and at the start.
make_tone() {  # name channels rate seconds [extra ffmpeg args]
  local name=$1 ch=$2 rate=$3 secs=$4
  shift 4
  [ -s "$name" ] && return 0
  ff -f lavfi -i "sine=frequency=440:sample_rate=$rate:duration=$secs" -af "aformat=sample_rates=$rate" \
     -ac "$ch" -c:a aac -b:a $((32 * ch))k "$@" "$name.tmp.${name##*.}"
  mv "$name.tmp.${name##*.}" "$name"
}
make_tone lc_mono_44100.m4a 1 44100 3
make_tone lc_stereo_48000.m4a 2 48000 2
make_tone lc_stereo_22050.m4a 2 22050 2
make_tone lc_51_32000.m4a 6 32000 2
make_tone lc_mono_8000.m4a 1 8000 2
make_tone fast_mono_44100.m4a 1 44100 3 -movflags +faststart
make_tone fast_stereo_48000.m4a 2 48000 2 -movflags +faststart
make_tone fast_51_44100.m4a 6 44100 2 -movflags +faststart
make_tone frag_stereo_44100.m4a 2 44100 2 -movflags +frag_keyframe+empty_moov

# Tagged by AtomicParsley (free space inside 'meta' and before 'mdat').
if [ ! -s ap_tagged.m4a ]; then
  AtomicParsley fast_stereo_48000.m4a --title "T" --artist "A" --year 2001 --tracknum 3/9 \
    -o ap_tagged.m4a.tmp.m4a >/dev/null
  mv ap_tagged.m4a.tmp.m4a ap_tagged.m4a
fi
if [ ! -s ap_tagged_end.m4a ]; then
  AtomicParsley lc_mono_44100.m4a --title "Moov at the end" --comment "c" -o ap_tagged_end.m4a.tmp.m4a >/dev/null
  mv ap_tagged_end.m4a.tmp.m4a ap_tagged_end.m4a
fi

# An ID3v2 tag in an 'ID32' box (AtomicParsley puts it in a 'meta' under 'moov').
if [ ! -s ap_id32.m4a ]; then
  AtomicParsley lc_mono_44100.m4a --ID3Tag TIT2 "title" --ID3Tag TPE1 "artist" UTF16LE \
    -o ap_id32.m4a.tmp.m4a >/dev/null
  mv ap_id32.m4a.tmp.m4a ap_id32.m4a
fi

# 3GPP with asset boxes.
if [ ! -s tagged.3gp ]; then
  ff -f lavfi -i "sine=frequency=300:sample_rate=8000:duration=2" -ac 1 -c:a aac -b:a 24k \
     -metadata title="Titel" -metadata artist="Artist" -metadata album="Album" -metadata genre="Genre" \
     -metadata copyright="C" -metadata comment="D" tagged.tmp.3gp
  mv tagged.tmp.3gp tagged.3gp
fi

# Audio and video: interleaved chunks, the audio track second.
if [ ! -s av.mp4 ]; then
  ff -f lavfi -i "testsrc=size=160x120:rate=10:duration=2" -f lavfi -i "sine=frequency=500:duration=2" \
     -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 64k -shortest av.tmp.mp4
  mv av.tmp.mp4 av.mp4
fi

# Streams for the track writer: a short one and a 1-minute and a 6-minute one.
make_tone long_1min_44100.m4a 2 44100 60
make_tone long_6min_44100.m4a 1 44100 360
ls > index.txt
