#!/bin/bash
# Inputs of the HE-AAC decode tests: the access units and AudioSpecificConfig
# of each vector (the AOT 29 and implicit variants of heaac.mp4 with the
# configuration patched in a copy of the file), and ffmpeg's float decode of
# the same file as the reference.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg
out="$1/sbrdec"
mkdir -p "$out"
vec="${2:-$(dirname "$0")/../../../../../shared}/vectors/mp4"
here="$(dirname "$0")"
# Our own HE-AAC v2 stream (a second of partly correlated pink noise through
# aacenc at preset 13, remuxed without the writer's padding): parametric
# stereo with inverse filtering on in the high band.
cp "$here/data/ps_invf.m4a" "$out/ps_invf.m4a"
/usr/bin/python3 "$here/extract_au.py" "$out/ps_invf.m4a" "$out/ps_invf"
ffmpeg -nostdin -v error -y -ignore_editlist 1 -i "$out/ps_invf.m4a" -f f32le "$out/ps_invf.ref.f32"
if [ ! -f "$vec/heaac.mp4" ]; then
  echo "vectors not found; skipping" >&2
  exit 0
fi
/usr/bin/python3 - "$vec/heaac.mp4" "$out" <<'PY'
import sys
d = open(sys.argv[1], 'rb').read()
i = d.find(bytes.fromhex('2d8c0800'))
for name, asc in (('heaac_aot29', 'ed8c0800'), ('heaac_implicit', '15880000')):
    open('%s/%s.mp4' % (sys.argv[2], name), 'wb').write(d[:i] + bytes.fromhex(asc) + d[i + 4:])
PY
cp "$vec/heaac.mp4" "$out/heaac.mp4"
for f in heaac-3frame_remux.m4a truncated_remux.m4a count-deutsch-audio.mp4; do
  cp "$vec/$f" "$out/$f"
done
for f in heaac.mp4 heaac_aot29.mp4 heaac_implicit.mp4 heaac-3frame_remux.m4a truncated_remux.m4a \
         count-deutsch-audio.mp4; do
  base="${f%.*}"
  /usr/bin/python3 "$here/extract_au.py" "$out/$f" "$out/$base"
  ffmpeg -nostdin -v error -y -ignore_editlist 1 -i "$out/$f" -f f32le "$out/$base.ref.f32"
done
