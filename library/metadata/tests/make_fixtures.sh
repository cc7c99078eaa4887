#!/usr/bin/env bash
# Makes the inputs of the tag oracle checks with ffmpeg and AtomicParsley into
# the fixture folder ($1): an AAC file as .m4a and as .3gp, a JPEG and a PNG
# cover, files tagged by AtomicParsley (iTunes items with artwork, 3GPP assets)
# and by ffmpeg (3GPP assets). Generated at test time, never committed.
set -euo pipefail
out="$1/metadata"
mkdir -p "$out"
cd "$out"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool_or_mark MISSING_TOOLS ffmpeg AtomicParsley
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }
made() { [ -s "$1" ]; }

made x.m4a || { ff -f lavfi -i sine=d=1 -c:a aac x.tmp.m4a && mv x.tmp.m4a x.m4a; }
# moov before mdat: a growing moov moves the media data.
made x_fast.m4a || { ff -f lavfi -i sine=d=1 -c:a aac -movflags +faststart x_fast.tmp.m4a && mv x_fast.tmp.m4a x_fast.m4a; }
made x.3gp || { ff -f lavfi -i sine=d=1 -c:a aac -f 3gp x.tmp.3gp && mv x.tmp.3gp x.3gp; }
made cover.jpg || { ff -f lavfi -i testsrc=size=64x48 -frames:v 1 cover.tmp.jpg && mv cover.tmp.jpg cover.jpg; }
made cover.png || { ff -f lavfi -i testsrc=size=32x32 -frames:v 1 cover.tmp.png && mv cover.tmp.png cover.png; }

# iTunes items and artwork written by AtomicParsley.
if ! made ap_tagged.m4a; then
  AtomicParsley x.m4a --title "Old title" --artist "Old artist" --comment "old" --tracknum 9/10 \
    --artwork cover.jpg -o ap_tagged.tmp.m4a >/dev/null
  mv ap_tagged.tmp.m4a ap_tagged.m4a
fi
# 3GPP assets written by AtomicParsley (a German title, UTF-16 copyright, album with track).
if ! made ap_assets.3gp; then
  cp x.3gp ap_assets.tmp.3gp
  AtomicParsley ap_assets.tmp.3gp --overWrite --3gp-title "Tï" lang=deu --3gp-album "Älbum" trknum=4 \
    --3gp-performer "Perf" --3gp-year 1999 --3gp-genre "Pop" --3gp-description "Déscr" \
    --3gp-copyright "Cp" UTF16 >/dev/null
  mv ap_assets.tmp.3gp ap_assets.3gp
fi
# 3GPP assets written by ffmpeg.
if ! made ff_assets.3gp; then
  ff -f lavfi -i sine=d=1 -c:a aac -f 3gp -metadata title="Tïtle ☃" -metadata album="Albüm" -metadata genre=Rock \
    -metadata copyright="Cöpy" -metadata track=5 ff_assets.tmp.3gp
  mv ff_assets.tmp.3gp ff_assets.3gp
fi
