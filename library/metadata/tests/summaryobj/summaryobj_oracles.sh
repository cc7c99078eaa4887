#!/usr/bin/env bash
# The metadata summary object over MP4 files made by ffmpeg and tagged by
# AtomicParsley at test time: reading by kind mask (each reader alone and
# together, the first text of an id stays, a loaded kind is not read again),
# bounded texts, pictures and SMFMF data; writing back (iTunes items for
# "m4a" names, 3GPP assets and an ID3v2 tag for others) judged by
# AtomicParsley, exiftool and ffprobe, with the audio's PCM md5 unchanged; a
# pre-existing "<name>.bak" kept; a write that cannot be done (immutable file
# or folder) reported as a failure with the original intact.
set -uo pipefail
if [ "${VOG_WIN32:-OFF}" != "ON" ]; then echo "SKIP: Windows build only"; exit 0; fi
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe AtomicParsley exiftool python3
work="$(mktemp -d)"
cleanup() { chattr -R -i "$work" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
cd "$work" || exit 1

# obj FILE COMMAND...: one object over FILE, the commands' result lines.
obj() {
  local f="$1"; shift
  local p=""; [ -n "$f" ] && p="$(hostpath "$work/$f")"
  "$VOG_SOURCE_DIR/scripts/wine-run" "$VOG_BIN_DIR/metasummarytool.exe" "$p" "$@" | tr -d '\r'
}
expect() { [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"; }
ff() { ffmpeg -nostdin -hide_banner -v error -y "$@"; }
pcm() { ffmpeg -nostdin -v error -i "$1" -map 0:a -f md5 - 2>/dev/null; }
brand() { python3 -c "import sys;b=bytearray(open(sys.argv[1],'rb').read());b[8:12]=sys.argv[2].encode();open(sys.argv[1],'wb').write(b)" "$@"; }
ap() { AtomicParsley "$@" --overWrite >/dev/null 2>&1; }

# Fixtures: a plain AAC file; one carrying the same ids in all three kinds
# (AtomicParsley writes 3GPP assets only under a 3GPP brand, so the brand is
# switched for that step and back); one with a PNG cover.
ff -f lavfi -i sine=frequency=440:d=1 -c:a aac -b:a 64k base.mp4 || { fail "ffmpeg"; exit 1; }
ff -f lavfi -i testsrc=size=32x32 -frames:v 1 cover.png
cp base.mp4 all.mp4
ap all.mp4 --title "iTunes Grüße ☃" --artist "iArtist" --album "iAlbum"
ap all.mp4 --ID3Tag TIT2 "ID3 Title"
brand all.mp4 3gp6
ap all.mp4 --3gp-title "3GP Title" --3gp-performer "3GP Perf"
brand all.mp4 isom
cp base.mp4 cover.m4a
ap cover.m4a --artwork cover.png
basepcm="$(pcm base.mp4)"
[ -n "$basepcm" ] || fail "no PCM md5 of the fixture"

field() { grep "^$1=" | head -1 | cut -d= -f2-; }

# --- Reading by kind mask: each reader alone and together; ID3v2 texts win
# over 3GPP texts, which win over iTunes texts.
while read -r mask title artist album; do
  out="$(obj all.mp4 read=$mask)"
  expect "read $mask result" "read $mask 00000000" "$(echo "$out" | head -1)"
  for v in title artist album; do [ "${!v}" = - ] && printf -v $v '%s' ""; done
  expect "read $mask title" "${title//_/ }" "$(echo "$out" | field INAM)"
  expect "read $mask artist" "${artist//_/ }" "$(echo "$out" | field IART)"
  expect "read $mask album" "${album//_/ }" "$(echo "$out" | field ISRC)"
done <<'TABLE'
1 iTunes_Grüße_☃ iArtist iAlbum
2 3GP_Title 3GP_Perf -
4 ID3_Title - -
3 3GP_Title 3GP_Perf iAlbum
5 ID3_Title iArtist iAlbum
6 ID3_Title 3GP_Perf -
7 ID3_Title 3GP_Perf iAlbum
8 - - -
TABLE
expect "read 0" "read 0 00000000" "$(obj all.mp4 read=0)"

# The summary stream carries the texts of the kinds read; Reset forgets them.
out="$(obj all.mp4 stream=7 reset stream=1)"
expect "stream 7" "stream 00000000|ID3 Title|3GP Perf" \
  "$(echo "$out" | sed -n '1,/^reset/p' | grep -E '^(stream|INAM|IART)' | sed 's/^[A-Z]*=//' | paste -sd'|')"
expect "stream after reset" "iTunes Grüße ☃" "$(echo "$out" | sed -n '/^reset/,$p' | field INAM)"

# A kind already loaded is not read again: after Read(1), GetText with mask 3
# answers from the iTunes set; Read(2) then replaces the texts by the 3GPP ones.
out="$(obj all.mp4 read=1 text=INAM,64,3 read=2)"
expect "no reload" "text 00000000 iTunes Grüße ☃" "$(echo "$out" | grep ^text)"
expect "reload texts" "INAM=3GP Title|IART=3GP Perf" "$(echo "$out" | sed -n '/^read 2/,$p' | grep = | paste -sd'|')"

# GetText always terminates within its count; an absent id is empty.
out="$(obj all.mp4 text=INAM,4,2 text=INAM,9,2 text=INAM,10,2 text=XXXX,8,2)"
expect "bounded texts" "text 00000000 3GP|text 00000000 3GP Titl|text 00000000 3GP Title|text 00000000 " \
  "$(echo "$out" | paste -sd'|')"

# Failures: empty path, missing file (a second Read tries the file again; the
# text buffer is left untouched).
expect "empty path" "read 1 8004e00d" "$(obj "" read=1)"
expect "missing file" "read 1 80004005|read 1 80004005|text 80004005 ########!" \
  "$(obj none.mp4 read=1 read=1 text=INAM,8,1 | paste -sd'|')"

# Pictures: the PNG cover comes back byte for byte.
sum="$(python3 -c "
import sys;h=2166136261
for b in open('cover.png','rb').read(): h=((h^b)*16777619)&0xffffffff
print('%08x'%h)")"
size=$(stat -c %s cover.png)
out="$(obj cover.m4a pic=0,1 pic=3,1 smfmf)"
expect "cover" "pic 00000000 $((24 + 20 + size)) $size $sum" "$(echo "$out" | sed -n 1p)"
expect "no such picture" "pic 00000001 0 0 00000000" "$(echo "$out" | sed -n 2p)"
expect "no SMFMF" "smfmf 8004e00a 0 0 " "$(echo "$out" | sed -n 3p)"

# --- Writing. An "m4a" name gets iTunes items only, whatever the mask.
cp all.mp4 w.m4a
expect "m4a write" "write 00000000" "$(obj w.m4a "add=INAM=Neuer Titel ü" add=IART=NewArtist write=6)"
expect "m4a AtomicParsley" "Neuer Titel ü|NewArtist" \
  "$(AtomicParsley w.m4a -t | sed -n 's/^.*Atom "©\(nam\|ART\)" contains: //p' | paste -sd'|')"
expect "m4a exiftool" "Neuer Titel ü" "$(exiftool -j -a -G1 w.m4a | sed -n 's/^ *"ItemList:Title": "\(.*\)",\?$/\1/p')"
expect "m4a ffprobe" "Neuer Titel ü" "$(ffprobe -v error -show_entries format_tags=title -of csv=p=0 w.m4a)"
expect "m4a keeps 3GPP" "3GP Title" "$(obj w.m4a read=2 | field INAM)"
expect "m4a keeps ID3v2" "ID3 Title" "$(obj w.m4a read=4 | field INAM)"
expect "m4a PCM" "$basepcm" "$(pcm w.m4a)"
expect "m4a no backup left" "w.m4a" "$(ls w.m4a*)"

# An upper-case ".M4A" keeps the caller's mask (3GPP only here).
cp base.mp4 u.M4A
expect "M4A write" "write 00000000" "$(obj u.M4A add=INAM=Upper write=2)"
expect "M4A 3GPP" "Upper" "$(exiftool -j -a -G1 u.M4A | sed -n 's/^ *"UserData:Title": "\(.*\)",\?$/\1/p')"
expect "M4A no items" "" "$(obj u.M4A read=1 | field INAM)"

# Another name gets the 3GPP assets and the ID3v2 tag (with an SMFMF object).
cp base.mp4 m.mp4
expect "mp4 write" "write 00000000" "$(obj m.mp4 "add=INAM=Nü Titel" add=IART=Perf addsmfmf=hello write=6)"
expect "mp4 exiftool 3GPP" "Nü Titel|Perf" "$(exiftool -j -a -G1 m.mp4 |
  sed -n 's/^ *"UserData:\(Title\|Performer\)": "\(.*\)",\?$/\2/p' | paste -sd'|')"
expect "mp4 AtomicParsley 3GPP" "1" "$(brand m.mp4 3gp6; AtomicParsley m.mp4 -t | grep -c 'User data "titl".*: Nü Titel'; brand m.mp4 isom)"
python3 - m.mp4 tag.id3 <<'PY'
import sys
b = open(sys.argv[1], 'rb').read()
i = b.rfind(b'ID32')
size = int.from_bytes(b[i - 4:i], 'big')
open(sys.argv[2], 'wb').write(b[i + 10:i - 4 + size])  # after version/flags and language
PY
ff -f lavfi -i sine=d=0.2 -c:a libmp3lame -id3v2_version 0 -write_xing 0 raw.mp3
cat tag.id3 raw.mp3 > tagged.mp3
expect "mp4 ID3v2 by exiftool" "Nü Titel" "$(exiftool -j -a -G1 tagged.mp3 | sed -n 's/^ *"ID3v2_3:Title": "\(.*\)",\?$/\1/p')"
expect "mp4 ID3v2 by ffprobe" "Nü Titel" "$(ffprobe -v error -show_entries format_tags=title -of csv=p=0 tagged.mp3)"
expect "mp4 SMFMF" "smfmf 00000000 21 5 hello" "$(obj m.mp4 smfmf)"
expect "mp4 no items" "" "$(obj m.mp4 read=1 | field INAM)"
expect "mp4 PCM" "$basepcm" "$(pcm m.mp4)"

# Texts already in the object's set win over the stream's texts.
cp all.mp4 k.m4a
obj k.m4a read=1 add=INAM=Ignored add=ICMT=Added write=1 >/dev/null
expect "set wins" "iTunes Grüße ☃|Added" "$(obj k.m4a read=1 | grep -E '^(INAM|ICMT)=' | sort -r | cut -d= -f2- | paste -sd'|')"

# A pre-existing "<name>.bak" is kept as it was.
cp all.mp4 b.m4a
echo "precious" > b.m4a.bak
expect "bak write" "write 00000000" "$(obj b.m4a add=INAM=WithBackup write=1)"
expect "bak kept" "precious" "$(cat b.m4a.bak)"
expect "bak no other file" "b.m4a b.m4a.bak" "$(ls b.m4a* | paste -sd' ')"
expect "bak tags" "WithBackup" "$(ffprobe -v error -show_entries format_tags=title -of csv=p=0 b.m4a)"
expect "bak PCM" "$basepcm" "$(pcm b.m4a)"

# A write that cannot be done fails and leaves the file as it was. Tests run
# as root, for whom permission bits stop nothing: the immutable attribute does.
if chattr +i base.mp4 2>/dev/null; then
  chattr -i base.mp4
  mkdir ro
  cp all.mp4 ro/f.m4a; cp all.mp4 i.m4a; cp base.mp4 i.mp4
  before_dir="$(md5sum ro/f.m4a | cut -d' ' -f1)"
  chattr +i ro i.m4a i.mp4
  for f in ro/f.m4a i.m4a i.mp4; do
    sum0="$(md5sum < "$f")"
    expect "immutable $f result" "write 80004005" "$(obj "$f" add=INAM=Never write=6)"
    expect "immutable $f intact" "$sum0" "$(md5sum < "$f")"
  done
  expect "immutable folder no stray file" "f.m4a" "$(ls ro)"
  expect "immutable file no stray file" "i.m4a" "$(ls i.m4a*)"
  chattr -i ro i.m4a i.mp4
else
  echo "NOTE: chattr unavailable, the failing-write checks are skipped"
fi

if [ $failures -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "all summary object checks passed"
