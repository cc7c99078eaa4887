#!/usr/bin/env bash
# The read road of the plug-in DLL over damaged files, under Wine: makes
# source files (ffmpeg's AAC encodes, plain and tagged, and our own renders
# by aacenc when the build has it), COUNT damaged variants of them (cut at
# box boundaries, bounded size and count fields, flipped bytes:
# tests/support/sweep/mutate.py), and runs dllsweep over them: no crash, no
# file over the bound, no growth of handles or private bytes.
#   scripts/dll-sweep.sh [COUNT]        (default 1000)
# VOG_BIN_DIR: the Windows build's bin folder (default build/win64/bin);
# DLLSWEEP_DIR: the work folder (default <bin>/../dllsweep); DLLSWEEP_ARGS:
# more dllsweep options (--bound-ms, --warmup, --max-handles, --max-private-kb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
bin=${VOG_BIN_DIR:-$root/build/win64/bin}
work=${DLLSWEEP_DIR:-$bin/../dllsweep}
src=$work/sources
damaged=$work/damaged-$count
mkdir -p "$src"
winpath() { echo "Z:${1//\//\\}"; }

if [ ! -s "$src/ff_stereo.m4a" ]; then
  ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=44100:d=0.6" \
    -c:a aac -b:a 128k "$src/ff_stereo.m4a"
  ffmpeg -v error -y -f lavfi -i "sine=frequency=330:duration=0.5:sample_rate=22050" \
    -c:a aac -b:a 48k -metadata title="Swept title" -metadata artist="Artist" -metadata comment="A comment" \
    "$src/ff_mono_tags.m4a"
  ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*550*t)|0.3*sin(2*PI*660*t)|0.1*sin(2*PI*60*t)|0.3*sin(2*PI*880*t)|0.3*sin(2*PI*990*t):s=48000:d=0.4" \
    -channel_layout 5.1 -c:a aac -b:a 256k "$src/ff_51.m4a"
  # Our renders: LC and HE-AAC through the plug-in's writer.
  if [ -f "$bin/aacenc.exe" ]; then
    ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*880*t):s=44100:d=0.6" \
      -c:a pcm_s16le "$src/source.wav"
    for preset in 4 10; do
      "$root/scripts/wine-run" "$bin/aacenc.exe" "$(winpath "$src/source.wav")" \
        "$(winpath "$src/ours_preset$preset.m4a")" --preset $preset >/dev/null
    done
    rm -f "$src/source.wav"
  fi
fi
if [ ! -d "$damaged" ]; then
  /usr/bin/python3 "$root/tests/support/sweep/mutate.py" "$damaged.tmp" "$count" "$src"/*.m4a
  mv "$damaged.tmp" "$damaged"
fi

start=$(date +%s)
set +e
(cd "$bin" && "$root/scripts/wine-run" "$bin/dllsweep.exe" ${DLLSWEEP_ARGS:-} "$(winpath "$damaged")") \
  | tr -d '\r' >"$work/last-run.log"
rc=${PIPESTATUS[0]}
set -e
grep -v -e '^FILE ' -e '^  open ' "$work/last-run.log" || true
echo "dll-sweep: opened with S_OK: $(grep -c '^  open 0x00000000' "$work/last-run.log"), refused: $(grep '^  open ' "$work/last-run.log" | grep -vc 'open 0x00000000')"
echo "dll-sweep: $count files in $(( $(date +%s) - start )) s, exit $rc"
if [ "$rc" -ne 0 ]; then
  echo "dll-sweep: the last file started: $(grep '^FILE ' "$work/last-run.log" | tail -1 | cut -c6-)"
fi
exit "$rc"
