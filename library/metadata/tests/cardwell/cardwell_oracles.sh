#!/usr/bin/env bash
# The Cardwell reader against independent readings of files written by
# make_cardwell.py: the texts exiftool decodes from the user box's item list,
# and thumbnails that are the exact PNG images the script wrote (md5) and that
# ffprobe decodes at the size given in their description.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool exiftool ffprobe
dump() { run_build_tool cardwelldump "$@"; }

# Texts: exiftool's names of the item keys against our summary ids.
/usr/bin/python3 "$here/make_cardwell.py" texts "$work/texts.mp4" >"$work/texts.expected" || fail "texts fixture"
exiftool -j -u "$work/texts.mp4" >"$work/texts.json" || fail "exiftool"
dump "$(hostpath "$work/texts.mp4")" >"$work/texts.ours" || fail "cardwelldump texts"
/usr/bin/python3 - "$work/texts.json" "$work/texts.ours" "$work/texts.expected" <<'PY' || failures=$((failures + 1))
import json, sys
exif = json.load(open(sys.argv[1], encoding='utf-8'))[0]
ours = dict(l.rstrip('\n').split('=', 1) for l in open(sys.argv[2], encoding='utf-8') if '=' in l)
written = [l.rstrip('\n').split('=', 1) for l in open(sys.argv[3], encoding='utf-8')]
# exiftool reads one 16-bit unit past each item's text: the next item's
# length field. Its value for item n is our text plus chr(length of item n+1).
lengths = [10 + 2 * len(t) for _, t in written] + [10 + 2 * len('not kept')]  # key 9 follows
names = {1: 'Title', 2: 'MetaData_0x0002', 3: 'ProductionDate', 4: 'Software', 5: 'Product',
         6: 'MetaData_0x0006', 7: 'MetaData_0x0007', 8: 'MetaData_0x0008', 0x0A02: 'MetaData_0x0a02'}
ids = {1: 'INAM', 2: 'TIT2', 3: 'ICRD', 4: 'ISFT', 6: 'ISBJ', 7: 'ICMT', 8: 'IKEY', 0x0A02: 'VCHP'}
bad = 0
for n, (key, text) in enumerate(written):
    key = int(key)
    theirs = exif.get(names[key])
    if theirs != text + chr(lengths[n + 1]):
        print('FAIL: exiftool %s = %r, written %r' % (names[key], theirs, text)); bad += 1
    if key in ids and ours.get(ids[key]) != text:
        print('FAIL: our %s = %r, exiftool reads %r' % (ids[key], ours.get(ids[key]), theirs)); bad += 1
# Key 5 names the software too; key 4 came first and stays. Key 9 and the
# item of encoding 0 give nothing.
if sorted(ours) != sorted(ids.values()):
    print('FAIL: our ids %s' % sorted(ours)); bad += 1
if exif.get('MetaData_0x0009') is None or not str(exif.get('MetaData_0x0a03', '')).startswith('(Binary'):
    print('FAIL: exiftool does not see the items we leave out as expected'); bad += 1
sys.exit(1 if bad else 0)
PY

# Thumbnails: saved by our tool, compared with what the script wrote.
/usr/bin/python3 "$here/make_cardwell.py" thumbs "$work/thumbs.mp4" >"$work/thumbs.expected" || fail "thumbs fixture"
mkdir -p "$work/pics"
dump "$(hostpath "$work/thumbs.mp4")" "$(hostpath "$work/pics")" >"$work/thumbs.ours" || fail "cardwelldump thumbs"
grep -q '^INAM=Clip$' "$work/thumbs.ours" || fail "title of the thumbnail file: $(cat "$work/thumbs.ours")"
count=0
while read -r type size md5; do
  count=$((count + 1))
  file="$work/pics/thumb.$size.$type.png"
  grep -q "^picture $type image/png $size " "$work/thumbs.ours" || fail "picture $type $size not listed"
  [ -f "$file" ] || { fail "picture $type not saved"; continue; }
  got="$(md5sum "$file" | cut -d' ' -f1)"
  [ "$got" = "$md5" ] || fail "picture $type: md5 $got, written $md5"
  dims="$(ffprobe -v error -show_entries stream=width,height -of csv=p=0:s=x "$file")"
  [ "$dims" = "$size" ] || fail "picture $type: ffprobe $dims, description $size"
done <"$work/thumbs.expected"
[ "$count" = 3 ] || fail "expected pictures: $count"
[ "$(grep -c '^picture ' "$work/thumbs.ours")" = 3 ] || fail "pictures read: $(cat "$work/thumbs.ours")"

# A file that is not MP4, and no file at all: status 1 with the reason on stderr.
printf 'This text file is not an MP4 file.\n' >"$work/not-mp4.txt"
for c in "not-mp4.txt:not an MP4 file" "absent.mp4:cannot open"; do
  name="${c%%:*}"
  reason="${c#*:}"
  err="$(dump "$(hostpath "$work/$name")" 2>&1 >/dev/null)"
  status=$?
  [ "$status" = 1 ] || fail "cardwelldump $name: status $status"
  case "$err" in *"$reason"*) ;; *) fail "cardwelldump $name: stderr \"$err\", expected \"$reason\"" ;; esac
done

[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "cardwell oracles passed"
