#!/usr/bin/env bash
# ID3v2 tags and iTunes items against independent programs:
#  1. tags written by ffmpeg (2.3, 2.4) read by us as ffprobe reads them;
#  2. tags written by mutagen (both versions, every encoding, pictures, objects)
#     read by us as mutagen reads them back;
#  3. tags we serialise (2.3 and 2.4) put in front of an MP3 stream and read by
#     mutagen (frame by frame, encodings included), ffprobe and exiftool; ffmpeg
#     still decodes the same PCM;
#  4. the 'ID32' box we write into an MP4 file: its tag read by mutagen, its
#     handler, the audio unchanged, the set read back by our readers;
#  5. the iTunes items of files tagged by AtomicParsley, ffmpeg and our writer
#     read by us as AtomicParsley -t and exiftool show them.
#  6. the ID3v1 genre list against mutagen's.
set -uo pipefail
export LC_ALL=C.UTF-8
fixtures="$VOG_FIXTURE_DIR/id3"
here="$(cd "$(dirname "$0")" && pwd)"
oracle() { /usr/bin/python3 "$here/id3_oracle.py" "$@"; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
[ -e "$fixtures/MISSING_TOOLS" ] && tool_missing "$(cat "$fixtures/MISSING_TOOLS")"
require_tool ffprobe exiftool
have_mutagen=1
optional_tool py:mutagen || have_mutagen=0

# shellcheck source=oracle_common.sh
. "$(dirname "${BASH_SOURCE[0]}")/oracle_common.sh"
# ffprobe's format tags as sorted key=value lines.
probe_tags() {
  ffprobe -v error -show_entries format_tags -of json "$1" | /usr/bin/python3 -c '
import json, sys
tags = json.load(sys.stdin).get("format", {}).get("tags", {})
for line in sorted("%s=%s" % (k.lower(), v) for k, v in tags.items()): print(line)'
}
# Our texts in ffprobe's names.
as_probe() {
  sed -n 's/^INAM = "\(.*\)"$/title=\1/p; s/^IART = "\(.*\)"$/artist=\1/p; s/^ISRC = "\(.*\)"$/album=\1/p;
          s/^ICRD = "\(.*\)"$/date=\1/p; s/^TRCK = "\(.*\)"$/track=\1/p; s/^TCOM = "\(.*\)"$/composer=\1/p' | sort
}

# 1. ffmpeg's tags.
for v in 3 4; do
  f="$fixtures/ff_v$v.mp3"
  ours="$(tool id3read "$f")" || fail "ffmpeg 2.$v tag not read"
  expect "ffmpeg ID3v2.$v tag: version" "version ID3v2.$v" "$(echo "$ours" | head -1)"
  expect "ffmpeg ID3v2.$v tag: texts as ffprobe reads them" \
    "$(probe_tags "$f" | grep -E '^(title|artist|album|date|track|composer)=')" "$(echo "$ours" | as_probe)"
done

# 2. mutagen's tags.
if [ $have_mutagen = 1 ]; then
  for f in "$fixtures"/mg_v*.mp3; do
    name="$(basename "$f")"
    ours="$(tool id3read "$f")" || { fail "$name not read"; continue; }
    expect "mutagen tag $name" "$(oracle expect "$f")" "$( (echo "$ours" | head -1; echo "$ours" | tail -n +2 | sort))"
  done
fi

# 3. Our tags in front of an MP3 stream.
cat > "$work/tags.txt" <<TAGS
text INAM Grüße ☃ 日本 𝄞
text IART Künstler
text ISRC Album Ω
text IAAT Band
text TRCK 3/12
text ICRD 1999
text TCOM Comp
text TIT2 Sub
text ICOP (c) X
text ISBJ Group
text TLEN 1000
text ICMT no frame for comments
picture 3 image/png $(hostpath "$fixtures/cover.png")
picture 4 image/jpeg $(hostpath "$fixtures/cover.jpg")
object application/x-test object.bin an_object $(hostpath "$fixtures/object.bin")
TAGS
png="$(oracle fnv "$fixtures/cover.png")"
jpg="$(oracle fnv "$fixtures/cover.jpg")"
obj="$(oracle fnv "$fixtures/object.bin")"
for v in 3 4; do
  tool id3write "$(hostpath "$work/tags.txt")" "$work/tag$v.id3" $v >/dev/null || { fail "id3write $v"; continue; }
  cat "$work/tag$v.id3" "$fixtures/bare.mp3" > "$work/ours$v.mp3"
  year=TYER; [ $v = 4 ] && year=TDTG
  if [ $have_mutagen = 1 ]; then
    expect "our 2.$v tag read by mutagen" "version 2.$v
$(sort <<EOF
TIT2 enc=1 Grüße ☃ 日本 𝄞
TOPE enc=1 Künstler
TALB enc=1 Album Ω
TPE2 enc=1 Band
TRCK enc=1 3/12
$year enc=1 1999
TCOM enc=1 Comp
TIT3 enc=1 Sub
TCOP enc=1 (c) X
TIT1 enc=1 Group
TLEN enc=1 1000
APIC enc=1 image/png type=3 desc= $png
APIC enc=1 image/jpeg type=4 desc= $jpg
GEOB enc=1 application/x-test name=object.bin desc=an_object $obj
EOF
)" "$(oracle frames "$work/ours$v.mp3")"
  fi
  expect "our 2.$v tag read by ffprobe" "$(sort <<EOF
album=Album Ω
composer=Comp
title=Grüße ☃ 日本 𝄞
track=3/12
tope=Künstler
EOF
)" "$(probe_tags "$work/ours$v.mp3" | grep -E '^(title|tope|album|track|composer)=')"
  # (exiftool 12.57 shows characters outside the basic plane as '?' in any
  # program's UTF-16 tags: the title is left to the other readers.)
  exif="$(exiftool -j -G1 -OriginalArtist -Album -Track -Composer -Band "$work/ours$v.mp3" | /usr/bin/python3 -c '
import json, sys
d = json.load(sys.stdin)[0]
for k in sorted(d):
    if k != "SourceFile": print("%s=%s" % (k, d[k]))')"
  expect "our 2.$v tag read by exiftool" "$(cat <<EOF
ID3v2_$v:Album=Album Ω
ID3v2_$v:Band=Band
ID3v2_$v:Composer=Comp
ID3v2_$v:OriginalArtist=Künstler
ID3v2_$v:Track=3/12
EOF
)" "$exif"
  expect "MP3 behind our 2.$v tag decodes as before" "$(pcm "$fixtures/bare.mp3")" "$(pcm "$work/ours$v.mp3")"
  # Our reader gives the set back.
  back="$(tool id3read "$work/ours$v.mp3" | tail -n +2 | sort)"
  expect "our 2.$v tag read back by us" "$(sort <<EOF
INAM = "Grüße ☃ 日本 𝄞"
IART = "Künstler"
ISRC = "Album Ω"
IAAT = "Band"
TRCK = "3/12"
ICRD = "1999"
TCOM = "Comp"
TIT2 = "Sub"
ICOP = "(c) X"
ISBJ = "Group"
TLEN = "1000"
picture 3 image/png $(stat -c %s "$fixtures/cover.png") $png ""
picture 4 image/jpeg $(stat -c %s "$fixtures/cover.jpg") $jpg ""
object application/x-test "object.bin" "an_object" $(stat -c %s "$fixtures/object.bin") $obj
EOF
)" "$back"
done

# 4. The ID32 box in an MP4 file (3GPP assets and the ID3v2 tag), twice over.
cp "$fixtures/x.mp4" "$work/y.mp4"
before="$(pcm "$work/y.mp4")"
for round in 1 2; do
  (cat "$work/tags.txt"; echo "mode mp4") > "$work/mp4tags.txt"
  [ $round = 2 ] && sed -i 's/^text INAM .*/text INAM Second/' "$work/mp4tags.txt"
  tool write "$(hostpath "$work/mp4tags.txt")" "$work/y.mp4" >/dev/null || fail "ID32 write round $round"
  expect "ID32 box: handler and language (round $round)" "handler ID32 language 15c7" \
    "$(oracle extract "$work/y.mp4" "$work/y.id3")"
  if [ $have_mutagen = 1 ]; then
    title="Grüße ☃ 日本 𝄞"; [ $round = 2 ] && title=Second
    expect "ID32 tag read by mutagen (round $round)" "TIT2 enc=1 $title" "$(oracle frames "$work/y.id3" | grep '^TIT2')"
    expect "ID32 tag holds 14 frames (round $round)" 14 "$(oracle frames "$work/y.id3" | tail -n +2 | wc -l)"
  fi
  expect "ID32 write keeps the audio (round $round)" "$before" "$(pcm "$work/y.mp4")"
done
# The 3GPP album's track byte comes first (3GPP is read before ID3v2), ffmpeg's
# encoder item last.
encoder="$(ffprobe -v error -show_entries format_tags=encoder -of csv=p=0 "$fixtures/x.mp4")"
expect "ID32 and 3GPP tags read back by our readers" "$(sort <<EOF
ISFT = "$encoder"
INAM = "Second"
IART = "Künstler"
ISRC = "Album Ω"
IAAT = "Band"
TRCK = "3"
ICRD = "1999"
TCOM = "Comp"
TIT2 = "Sub"
ICOP = "(c) X"
ISBJ = "Group"
TLEN = "1000"
picture 3 image/png $(stat -c %s "$fixtures/cover.png") $png ""
picture 4 image/jpeg $(stat -c %s "$fixtures/cover.jpg") $jpg ""
object application/x-test "object.bin" "an_object" $(stat -c %s "$fixtures/object.bin") $obj
EOF
)" "$(tool readall "$work/y.mp4" | sort)"
expect "ffprobe still reads the MP4 file" "1" "$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 "$work/y.mp4" | wc -l)"

# 5. iTunes items read by us as AtomicParsley and exiftool show them.
cp "$fixtures/x.m4a" "$work/own.m4a"
cat > "$work/own.txt" <<TAGS
text INAM Own tïtle ☃
text IART Own artist
text ISRC Own album
text TRCK 5
text IGNR Own genre
text IKEY key words
picture 0 image/jpeg $(hostpath "$fixtures/cover.jpg")
TAGS
tool write "$(hostpath "$work/own.txt")" "$work/own.m4a" >/dev/null || fail "iTunes write"
for f in "$fixtures/ap_items.m4a" "$fixtures/ap_genre_text.m4a" "$fixtures/ff_items.m4a" "$work/own.m4a"; do
  name="$(basename "$f")"
  AtomicParsley "$f" -t > "$work/ap.txt" 2>/dev/null
  ours="$(tool readall "$f")"
  expect "iTunes items of $name as AtomicParsley shows them" "$(oracle atomicparsley "$work/ap.txt")" \
    "$(echo "$ours" | grep -v '^picture' | sort)"
  # The first cover, as AtomicParsley extracts it.
  rm -rf "$work/art" && mkdir "$work/art" && cp "$f" "$work/art/a.m4a"
  (cd "$work/art" && AtomicParsley a.m4a -E >/dev/null 2>&1)
  first="$(ls "$work/art" | grep '_artwork_1\.' | head -1)"
  if [ -n "$first" ]; then
    expect "first cover of $name as AtomicParsley extracts it" \
      "$(stat -c %s "$work/art/$first") $(oracle fnv "$work/art/$first")" \
      "$(echo "$ours" | sed -n 's/^picture 0 [^ ]* \([0-9]*\) \([0-9a-f]*\) .*/\1 \2/p')"
  else
    expect "no cover in $name" "" "$(echo "$ours" | grep '^picture')"
  fi
done
genre="$(exiftool -j -Genre "$fixtures/ap_items.m4a" | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)[0]["Genre"])')"
expect "numeric genre as exiftool names it" "IGNR = \"$genre\"" "$(tool readall "$fixtures/ap_items.m4a" | grep '^IGNR')"

# 6. The ID3v1 genre list against mutagen's: the same 148 names apart from six
# that the list keeps in their historical spelling.
if [ $have_mutagen = 1 ]; then
  tool genres > "$work/genres.txt"
  expect "ID3v1 genres as mutagen names them" "$(cat <<EOF
41 AlternRock / Alt. Rock
60 Gangsta / Gangsta Rap
68 Psychadelic / Psychedelic
85 Fast Fusion / Fast-Fusion
86 Bebob / Bebop
124 A capella / A Cappella
count 148
EOF
)" "$(/usr/bin/python3 - "$work/genres.txt" <<'PY'
import sys
from mutagen.id3 import TCON
ours = open(sys.argv[1], encoding="utf-8").read().splitlines()
for i, (a, b) in enumerate(zip(ours, TCON.GENRES)):
    if a.lower() != b.lower():
        print("%d %s / %s" % (i + 1, a, b))
print("count %d" % len(ours))
PY
)"
fi

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all ID3v2 and iTunes reader checks passed"
