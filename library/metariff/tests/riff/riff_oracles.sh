#!/usr/bin/env bash
# Independent readers judge the files the test program wrote: ffprobe,
# exiftool and mediainfo read the saved "INFO" list, ffmpeg decodes the same
# PCM as before every edit, and a Python walk checks the chunk layouts.
set -uo pipefail
dir="$VOG_FIXTURE_DIR/metariff"
w="$dir/written"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe exiftool mediainfo
[ -f "$w/info_saved.wav" ] || { echo "no written files: the test program did not run"; exit 1; }

# The audio of every written file decodes to the PCM of its source.
for f in "$w"/*.wav "$w"/*.w64; do
  [ -f "$f" ] || continue
  src=plain.wav
  case "$f" in *.w64) src=plain.w64 ;; esac
  case "$(basename "$f")" in info_*link*.wav) src=info.wav ;; esac
  got=$(ffmpeg -v error -i "$f" -map 0:a -c:a pcm_s16le -f md5 - 2>&1)
  [ "$got" = "$(cat "$dir/$src.md5")" ] || fail "$(basename "$f"): PCM md5 $got differs from $src"
done

# The saved INFO list, as ffprobe, exiftool and mediainfo read it.
tags=$(ffprobe -v error -show_entries format_tags -of json "$w/info_saved.wav")
/usr/bin/python3 - "$tags" <<'PY' || fail "ffprobe tags"
import json, sys
t = json.loads(sys.argv[1])['format']['tags']
want = {'title': 'Saved Title', 'artist': 'Saved Artist', 'comment': 'four', 'date': '2025',
        'genre': 'Jazz', 'copyright': 'C 2025 Us'}
bad = {k: (t.get(k), v) for k, v in want.items() if t.get(k) != v}
if bad:
    sys.exit('ffprobe: %r' % bad)
PY
exif=$(exiftool -j "$w/info_saved.wav")
/usr/bin/python3 - "$exif" <<'PY' || fail "exiftool tags"
import json, sys
t = json.loads(sys.argv[1])[0]
want = {'Title': 'Saved Title', 'Artist': 'Saved Artist', 'Comment': 'four', 'Genre': 'Jazz',
        'Copyright': 'C 2025 Us'}
bad = {k: (t.get(k), v) for k, v in want.items() if str(t.get(k)) != v}
if bad:
    sys.exit('exiftool: %r' % bad)
PY
mi=$(mediainfo --Output=JSON "$w/info_saved.wav")
/usr/bin/python3 - "$mi" <<'PY' || fail "mediainfo tags"
import json, sys
g = json.loads(sys.argv[1])['media']['track'][0]
if g.get('Title') != 'Saved Title' or g.get('Genre') != 'Jazz':
    sys.exit('mediainfo: %r' % g)
PY

# Optional parts written by later tests.
if [ -f "$VOG_SOURCE_DIR/library/metariff/tests/riff/link_layout_check.py" ]; then
  /usr/bin/python3 "$VOG_SOURCE_DIR/library/metariff/tests/riff/link_layout_check.py" "$w" || fail "project-link layouts"
fi

[ $status -eq 0 ] && echo "metariff oracles: ok ($(ls "$w" | wc -l) written files)"
exit $status
