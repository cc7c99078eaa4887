#!/usr/bin/env bash
# Makes the inputs of the ID3v2 and iTunes reader checks into the fixture folder
# ($1): MP3 files tagged by ffmpeg (ID3v2.3 and 2.4) and one without a tag,
# tags written by Python mutagen (both versions, every text encoding, pictures,
# objects), an AAC file as .mp4 and .m4a, covers, and .m4a files tagged by
# AtomicParsley and ffmpeg. Generated at test time, never committed.
set -euo pipefail
out="$1/id3"
mkdir -p "$out"
cd "$out"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool_or_mark MISSING_TOOLS ffmpeg AtomicParsley
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }
made() { [ -s "$1" ]; }

made cover.png || { ff -f lavfi -i testsrc=size=32x32 -frames:v 1 cover.tmp.png && mv cover.tmp.png cover.png; }
made cover.jpg || { ff -f lavfi -i testsrc=size=64x48 -frames:v 1 cover.tmp.jpg && mv cover.tmp.jpg cover.jpg; }
printf 'object data \x00\x01\x02\xff\xfe' > object.bin

for v in 3 4; do
  made ff_v$v.mp3 || {
    ff -f lavfi -i sine=d=1 -c:a libmp3lame -id3v2_version $v -metadata title="Grüße ☃ 日本" \
      -metadata artist="Künstler" -metadata album="Album Ω" -metadata date=1999 -metadata track=3/12 \
      -metadata composer="Comp" -metadata comment="a comment" ff_v$v.tmp.mp3
    mv ff_v$v.tmp.mp3 ff_v$v.mp3
  }
done

# An MP3 stream with no tag at all: ffmpeg's own tag cut off.
if ! made bare.mp3; then
  ff -f lavfi -i sine=d=1 -c:a libmp3lame bare.tmp.mp3
  /usr/bin/python3 - bare.tmp.mp3 bare.mp3 <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
if data[:3] == b"ID3":
    s = data[6:10]
    data = data[10 + ((s[0] << 21) | (s[1] << 14) | (s[2] << 7) | s[3]):]
open(sys.argv[2], "wb").write(data)
PY
  rm -f bare.tmp.mp3
fi

# Tags written by mutagen: version 2.3 and 2.4, encodings 0 to 3.
if /usr/bin/python3 -c "import mutagen" 2>/dev/null; then
  for form in 3:0 3:1 4:0 4:1 4:2 4:3; do
    v=${form%:*}
    e=${form#*:}
    made mg_v${v}_e$e.mp3 && continue
    cp bare.mp3 mg.tmp.mp3
    /usr/bin/python3 - mg.tmp.mp3 "$v" "$e" <<'PY'
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TRCK, TYER, TDRC, TCOM, TIT3, TCOP, TPE2, TIT1, TLEN, APIC, GEOB, TXXX, COMM, TCON
path, version, enc = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
latin = enc == 0
title = "Grüße" if latin else "Grüße ☃ 日本 \U0001D11E"
tag = ID3()
tag.add(TIT2(encoding=enc, text=[title]))
tag.add(TPE1(encoding=enc, text=["Künstler"]))
tag.add(TALB(encoding=enc, text=["Album"]))
tag.add(TRCK(encoding=enc, text=["7/9"]))
if version == 3:
    tag.add(TYER(encoding=enc, text=["2001"]))
else:
    tag.add(TDRC(encoding=enc, text=["2001"]))
tag.add(TCOM(encoding=enc, text=["Comp"]))
tag.add(TIT3(encoding=enc, text=["Sub"]))
tag.add(TCOP(encoding=enc, text=["(c) X"]))
tag.add(TPE2(encoding=enc, text=["Band"]))
tag.add(TIT1(encoding=enc, text=["Group"]))
tag.add(TLEN(encoding=enc, text=["1000"]))
tag.add(TCON(encoding=enc, text=["Rock"]))
tag.add(COMM(encoding=enc, lang="eng", desc="", text=["comment"]))
tag.add(TXXX(encoding=enc, desc="unknown key", text=["value"]))
tag.add(APIC(encoding=enc, mime="image/png", type=3, desc="Front" if latin else "Front ☃", data=open("cover.png", "rb").read()))
tag.add(APIC(encoding=enc, mime="image/jpeg", type=4, desc="Back", data=open("cover.jpg", "rb").read()))
tag.add(GEOB(encoding=enc, mime="application/x-test", filename="object.bin", desc="an object", data=open("object.bin", "rb").read()))
tag.save(path, v2_version=version)
PY
    mv mg.tmp.mp3 mg_v${v}_e$e.mp3
  done
fi

made x.mp4 || { ff -f lavfi -i sine=d=1 -c:a aac x.tmp.mp4 && mv x.tmp.mp4 x.mp4; }
made x.m4a || { ff -f lavfi -i sine=d=1 -c:a aac x.tmp.m4a && mv x.tmp.m4a x.m4a; }
# iTunes items by AtomicParsley (genre as a number, track n/m, artwork) and by ffmpeg.
if ! made ap_items.m4a; then
  AtomicParsley x.m4a --title "AP tïtle" --artist "AP artist" --album "AP album" --albumArtist "AP band" \
    --comment "AP comment" --year 2003 --genre Reggae --tracknum 9/10 --encodingTool "AP tool" \
    --artwork cover.png -o ap_items.tmp.m4a >/dev/null
  mv ap_items.tmp.m4a ap_items.m4a
fi
if ! made ap_genre_text.m4a; then
  AtomicParsley x.m4a --genre "Not a standard genre" --artwork cover.jpg --artwork cover.png \
    -o ap_genre_text.tmp.m4a >/dev/null
  mv ap_genre_text.tmp.m4a ap_genre_text.m4a
fi
if ! made ff_items.m4a; then
  ff -f lavfi -i sine=d=1 -c:a aac -metadata title="FF tïtle ☃" -metadata artist="FF artist" -metadata album="FF album" \
    -metadata album_artist="FF band" -metadata date=2011 -metadata genre="Jazz" -metadata track=4/8 \
    -metadata comment="FF comment" -metadata composer="FF comp" ff_items.tmp.m4a
  mv ff_items.tmp.m4a ff_items.m4a
fi
