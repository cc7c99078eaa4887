#!/usr/bin/env bash
# Builds the plug-in and runs the stand-in host on its default job: the plug-in's
# info row, then a built-in sample file (a 2-second stereo AAC-LC .m4a made with
# ffmpeg) read through the plug-in into a 16-bit WAV, and that WAV rendered back
# through the plug-in's default template into an AAC-LC .m4a.
#
# It uses the build this machine can run: the 32-bit product, or where 32-bit
# code cannot run, the 64-bit test build of the same code (it says which).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/vog-env.sh
bash scripts/setup.sh >/dev/null
preset=$(vog_windows_preset)
echo "demo: the $preset build"
[ "$preset" = win32 ] || echo "demo: $(vog_no_i386_reason)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
export VOG_HOST_PRESET="$preset"
scripts/host info
work="$(pwd)/build/$preset/demo"
mkdir -p "$work"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=2:sample_rate=44100" \
  -f lavfi -i "sine=frequency=660:duration=2:sample_rate=44100" \
  -filter_complex "[0:a][1:a]amerge=inputs=2[a]" -map "[a]" -c:a aac -b:a 128k "$work/demo.m4a"
scripts/host read "$work/demo.m4a" "$work/demo.wav"
echo "decoded: $work/demo.wav"
winpath() { echo "Z:$1" | tr / '\\'; }
rm -f "$work/rendered.m4a"
scripts/host render "$(winpath "$work/demo.wav")" "$(winpath "$work/rendered.m4a")" --preset 0
ffprobe -v error -show_entries stream=codec_name,profile,sample_rate,channels,duration -of compact "$work/rendered.m4a"
