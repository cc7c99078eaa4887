#!/usr/bin/env bash
# Inputs of the plug-in manager tests, made at test time: an MP4 file with AAC
# audio, a WAV and an MP3 file (no reader of ours takes them), a file named
# like a DLL that is no executable, and the header of a 64-bit DLL.
set -euo pipefail
out="$1/fiomanager"
rm -rf "$out"
mkdir -p "$out"
cd "$out"
ff() { ffmpeg -v error -y "$@"; }
sine=(-f lavfi -i "sine=frequency=440:sample_rate=44100:duration=0.5")
ff "${sine[@]}" -ac 2 -c:a aac -b:a 128k aac.mp4
ff "${sine[@]}" pcm.wav
ff "${sine[@]}" -c:a libmp3lame tone.mp3
# The number of PCM frames ffprobe counts in the MP4 file's audio.
ffprobe -v error -select_streams a:0 -count_packets -show_entries stream=sample_rate,channels,duration_ts \
  -of default=noprint_wrappers=1 aac.mp4 > aac.mp4.probe
printf 'this is not a program\n' > text.dll
/usr/bin/python3 - <<'PY'
import struct
# A PE image header whose machine is x86-64: enough to be told apart, never loaded.
dos = bytearray(64)
dos[0:2] = b"MZ"
struct.pack_into("<I", dos, 60, 64)
pe = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664, 0, 0, 0, 0, 240, 0x2022)
open("amd64.dll", "wb").write(bytes(dos) + pe + bytes(512))
PY
