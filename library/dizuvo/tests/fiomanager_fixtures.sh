#!/usr/bin/env bash
# Inputs of the plug-in manager tests, made at test time: an MP4 file with AAC
# audio, a WAV and an MP3 file (no reader of ours takes them), a file named
# like a DLL that is no executable, and the headers of an x86-64 and of a
# 32-bit x86 DLL.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe
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
# PE image headers of a DLL for x86-64 and for 32-bit x86: enough to be told
# apart by their machine, never loaded.
def header(name, machine, optional_size):
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 60, 64)
    pe = b"PE\0\0" + struct.pack("<HHIIIHH", machine, 0, 0, 0, 0, optional_size, 0x2022)
    open(name, "wb").write(bytes(dos) + pe + bytes(512))
header("amd64.dll", 0x8664, 240)
header("i386.dll", 0x14C, 224)
PY
