#!/usr/bin/env bash
# Tags written by our writers, read back by independent programs: iTunes items
# (non-ASCII titles, track number n/m, JPEG and PNG covers) with AtomicParsley,
# exiftool, mediainfo and ffprobe; 3GPP asset boxes with their language code
# with AtomicParsley, exiftool and mediainfo. A rewrite replaces the tags other
# programs wrote before, and the audio decodes to the same PCM (md5) after
# every write. Our 3GPP reader reads the assets AtomicParsley and ffmpeg write.
set -uo pipefail
fixtures="$VOG_FIXTURE_DIR/metadata"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
[ -e "$fixtures/MISSING_TOOLS" ] && tool_missing "$(cat "$fixtures/MISSING_TOOLS")"
require_tool ffprobe exiftool mediainfo

# shellcheck source=oracle_common.sh
. "$(dirname "${BASH_SOURCE[0]}")/oracle_common.sh"
# Prints the named fields of a JSON object (exiftool: the first array element;
# mediainfo: the General track), one "key=value" line each.
jfields() {  # kind file key...
  /usr/bin/python3 - "$@" <<'PY'
import json, sys
kind, path, keys = sys.argv[1], sys.argv[2], sys.argv[3:]
data = json.load(open(path, encoding="utf-8"))
if kind == "exif":
    obj = data[0]
else:
    obj = next(t for t in data["media"]["track"] if t["@type"] == "General")
for k in keys:
    print("%s=%s" % (k, obj.get(k, "<absent>")))
PY
}
ap_items() { AtomicParsley "$1" -t | sed '1s/^\xEF\xBB\xBF//' | grep -v '^$'; }

TITLE="Grüße aus Köln – 日本"

# 1. iTunes items into a fresh file, with a JPEG cover.
cp "$fixtures/x.m4a" "$work/a.m4a"
cat > "$work/a.txt" <<TAGS
text INAM $TITLE
text IART Künstler
text ISRC Album Ω
text IAAT Album Artist
text TRCK 3/12
text ICRD 2024
text IGNR Jazz
text ICMT a comment
text TLEN 1000
picture 0 image/jpeg $(hostpath "$fixtures/cover.jpg")
TAGS
tool write "$(hostpath "$work/a.txt")" "$work/a.m4a" >/dev/null || fail "iTunes write failed"
expect "iTunes items (AtomicParsley)" "$(cat <<EOF2
Atom "©alb" contains: Album Ω
Atom "©day" contains: 2024
Atom "trkn" contains: 3
Atom "©nam" contains: $TITLE
Atom "©gen" contains: Jazz
Atom "aART" contains: Album Artist
Atom "©cmt" contains: a comment
Atom "©ART" contains: Künstler
Atom "covr" contains: 1 piece of artwork
EOF2
)" "$(ap_items "$work/a.m4a")"
exiftool -j "$work/a.m4a" > "$work/a.exif.json"
expect "iTunes items (exiftool)" "$(cat <<EOF2
Title=$TITLE
Artist=Künstler
Album=Album Ω
AlbumArtist=Album Artist
TrackNumber=3
ContentCreateDate=2024
Genre=Jazz
Comment=a comment
HandlerType=Metadata
EOF2
)" "$(jfields exif "$work/a.exif.json" Title Artist Album AlbumArtist TrackNumber ContentCreateDate Genre Comment HandlerType)"
exiftool -b -CoverArt "$work/a.m4a" > "$work/a.cover"
cmp -s "$work/a.cover" "$fixtures/cover.jpg" || fail "cover read back by exiftool differs from the JPEG written"
# The data type of the cover item (13 = JPEG), as exiftool's box dump names it.
exiftool -v3 "$work/a.m4a" | grep -q "Tag 'covr', Type='data', Flags=0xd (JPEG)" || fail "cover not typed JPEG (13)"
mediainfo --Output=JSON "$work/a.m4a" > "$work/a.mi.json"
expect "iTunes items (mediainfo)" "$(cat <<EOF2
Title=$TITLE
Performer=Künstler
Album=Album Ω
Album_Performer=Album Artist
Track_Position=3
Recorded_Date=2024
Genre=Jazz
Cover=Yes
EOF2
)" "$(jfields mi "$work/a.mi.json" Title Performer Album Album_Performer Track_Position Recorded_Date Genre Cover)"
expect "iTunes items (ffprobe)" "$(cat <<EOF2
TAG:album=Album Ω
TAG:date=2024
TAG:track=3
TAG:title=$TITLE
TAG:genre=Jazz
TAG:album_artist=Album Artist
TAG:comment=a comment
TAG:artist=Künstler
EOF2
)" "$(ffprobe -v error -show_format "$work/a.m4a" | grep '^TAG:' | grep -v 'brand\|minor_version')"
expect "audio after the iTunes write" "$(pcm "$fixtures/x.m4a")" "$(pcm "$work/a.m4a")"
echo "iTunes items into a fresh file: checked with AtomicParsley, exiftool, mediainfo, ffprobe"

# 2. A rewrite of a file AtomicParsley tagged: the old items and artwork go,
#    the PNG cover (type 3, no type 0) is the one written.
cp "$fixtures/ap_tagged.m4a" "$work/b.m4a"
cat > "$work/b.txt" <<TAGS
text INAM New title
text TRCK 12
picture 4 image/jpeg $(hostpath "$fixtures/cover.jpg")
picture 3 image/png $(hostpath "$fixtures/cover.png")
TAGS
tool write "$(hostpath "$work/b.txt")" "$work/b.m4a" >/dev/null || fail "iTunes rewrite failed"
expect "iTunes rewrite (AtomicParsley)" "$(cat <<EOF2
Atom "trkn" contains: 12
Atom "©nam" contains: New title
Atom "covr" contains: 1 piece of artwork
EOF2
)" "$(ap_items "$work/b.m4a")"
exiftool -b -CoverArt "$work/b.m4a" > "$work/b.cover"
cmp -s "$work/b.cover" "$fixtures/cover.png" || fail "rewritten cover is not the PNG"
exiftool -v3 "$work/b.m4a" | grep -q "Tag 'covr', Type='data', Flags=0xe (PNG)" || fail "cover not typed PNG (14)"
expect "audio after the iTunes rewrite" "$(pcm "$fixtures/ap_tagged.m4a")" "$(pcm "$work/b.m4a")"
echo "iTunes rewrite over AtomicParsley's items: old items and artwork replaced"

# 2b. moov before mdat: the tags grow moov, the media data moves and the chunk
#     offsets follow it.
cp "$fixtures/x_fast.m4a" "$work/f.m4a"
tool write "$(hostpath "$work/a.txt")" "$work/f.m4a" >/dev/null || fail "iTunes write (moov first) failed"
expect "iTunes items, moov first (AtomicParsley)" "$(ap_items "$work/a.m4a")" "$(ap_items "$work/f.m4a")"
expect "audio after the iTunes write, moov first" "$(pcm "$fixtures/x_fast.m4a")" "$(pcm "$work/f.m4a")"
[ -n "$(ffprobe -v error -i "$work/f.m4a" 2>&1 >/dev/null)" ] && fail "ffprobe complains about the file with moov first"
echo "iTunes items into a file with moov first: media data moved, audio unchanged"

# 3. 3GPP assets into a fresh 3GPP file.
cp "$fixtures/x.3gp" "$work/c.3gp"
cat > "$work/c.txt" <<TAGS
mode 3gpp
text INAM $TITLE
text IART Künstler
text ISRC Album Ω
text TRCK 3/12
text ICRD 2024
text IGNR Jazz
text ICOP (c) Someone
text ISBJ A description
text ICMT not an asset
TAGS
tool write "$(hostpath "$work/c.txt")" "$work/c.3gp" >/dev/null || fail "3GPP write failed"
expect "3GPP assets (AtomicParsley)" "$(cat <<EOF2
User data "albm" [lang=eng (utf8)] : Album Ω  |  Track: 3
User data "yrrc" : 2024
User data "dscp" [lang=eng (utf8)] : A description
User data "titl" [lang=eng (utf8)] : $TITLE
User data "cprt" [lang=eng (utf8)] : (c) Someone
User data "gnre" [lang=eng (utf8)] : Jazz
User data "perf" [lang=eng (utf8)] : Künstler
EOF2
)" "$(ap_items "$work/c.3gp")"
exiftool -j -G1 "$work/c.3gp" > "$work/c.exif.json"
# exiftool shows the album payload whole, with the track byte after the terminator.
expect "3GPP assets (exiftool)" "$(cat <<EOF2
UserData:Title=$TITLE
UserData:Performer=Künstler
UserData:Album=Album Ω$(printf '\x03')
UserData:Year=2024
UserData:Genre=Jazz
UserData:Copyright=(c) Someone
UserData:Description=A description
EOF2
)" "$(jfields exif "$work/c.exif.json" UserData:Title UserData:Performer UserData:Album UserData:Year UserData:Genre UserData:Copyright UserData:Description)"
mediainfo --Output=JSON "$work/c.3gp" > "$work/c.mi.json"
expect "3GPP assets (mediainfo)" "$(cat <<EOF2
Title=$TITLE
Performer=Künstler
Album=Album Ω
Released_Date=2024
Genre=Jazz
Copyright=(c) Someone
EOF2
)" "$(jfields mi "$work/c.mi.json" Title Performer Album Released_Date Genre Copyright)"
expect "3GPP assets read back by our reader" "$(cat <<EOF2
ISRC = "Album Ω"
ICRD = "2024"
ISBJ = "A description"
TRCK = "3"
INAM = "$TITLE"
ICOP = "(c) Someone"
IGNR = "Jazz"
IART = "Künstler"
EOF2
)" "$(tool read "$work/c.3gp")"
expect "audio after the 3GPP write" "$(pcm "$fixtures/x.3gp")" "$(pcm "$work/c.3gp")"
echo "3GPP assets into a fresh file: checked with AtomicParsley, exiftool, mediainfo and our reader"

# 4. A rewrite of AtomicParsley's assets: every old asset goes, ours are "eng".
cp "$fixtures/ap_assets.3gp" "$work/d.3gp"
printf 'mode 3gpp\ntext INAM Neu\ntext ICRD 2005\n' > "$work/d.txt"
tool write "$(hostpath "$work/d.txt")" "$work/d.3gp" >/dev/null || fail "3GPP rewrite failed"
expect "3GPP rewrite (AtomicParsley)" "$(cat <<EOF2
User data "yrrc" : 2005
User data "titl" [lang=eng (utf8)] : Neu
EOF2
)" "$(ap_items "$work/d.3gp")"
expect "audio after the 3GPP rewrite" "$(pcm "$fixtures/ap_assets.3gp")" "$(pcm "$work/d.3gp")"
echo "3GPP rewrite over AtomicParsley's assets: old assets replaced"

# 5. Our reader on assets others wrote (UTF-16 copyright, German title, track byte).
expect "3GPP assets of AtomicParsley read by our reader" "$(cat <<EOF2
ISRC = "Älbum"
ICRD = "1999"
ISBJ = "Déscr"
TRCK = "4"
INAM = "Tï"
ICOP = "Cp"
IGNR = "Pop"
IART = "Perf"
EOF2
)" "$(tool read "$fixtures/ap_assets.3gp")"
expect "3GPP assets of ffmpeg read by our reader" "$(cat <<EOF2
ISRC = "Albüm"
TRCK = "5"
INAM = "Tïtle ☃"
ICOP = "Cöpy"
IGNR = "Rock"
EOF2
)" "$(tool read "$fixtures/ff_assets.3gp")"
echo "3GPP assets of AtomicParsley and ffmpeg read by our reader"

# 6. Files that are not MP4, and no file at all: refused (status 1) with the reason on stderr.
printf 'This text file is not an MP4 file.\n' >"$work/not-mp4.txt"
printf 'text INAM x\n' >"$work/tags.txt"
for cmd in "read:$work/not-mp4.txt:not an MP4 file" "readall:$work/not-mp4.txt:not an MP4 file" \
           "write:$work/not-mp4.txt:not an MP4 file" "read:$work/absent.m4a:cannot open"; do
  IFS=: read -r verb file reason <<<"$cmd"
  args=("$verb")
  [ "$verb" = write ] && args+=("$work/tags.txt")
  err="$(tool "${args[@]}" "$file" 2>&1 >/dev/null)"
  status=$?
  [ "$status" = 1 ] || fail "metatag $verb $(basename "$file"): status $status"
  case "$err" in *"$reason"*) ;; *) fail "metatag $verb $(basename "$file"): stderr \"$err\", expected \"$reason\"" ;; esac
done
expect "the text file after a refused write" "This text file is not an MP4 file." "$(cat "$work/not-mp4.txt")"
echo "files that are not MP4: refused with the reason"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "tag oracles: all checks passed"
