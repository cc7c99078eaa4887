#!/usr/bin/env bash
# The stand-in host's metadata road under Wine. "render --tag" hands the
# renderer summary fields as the host's metadata: ffprobe, exiftool and
# mediainfo read them from the .m4a as iTunes items, next to the gapless
# comment the render wrote before the tags (so the tag writer kept it), and
# "tags" reads them back through the plug-in's reader. "tags" on the file the
# render test left with markers, regions and a project link prints what that
# test handed the renderer. Bad usage and unknown keys are refused.
set -uo pipefail
run="$VOG_SOURCE_DIR/scripts/wine-run"
host="$VOG_BIN_DIR/host.exe"
dll="$VOG_BIN_DIR/vogaac2.dll"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe exiftool mediainfo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
h() { "$run" "$host" --dll "$dll" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=1:sample_rate=44100" -ac 2 -c:a pcm_s16le \
  "$work/in.wav" || fail "ffmpeg source"
out="$work/tagged.m4a"
msg=$(h render "$(hostpath "$work/in.wav")" "$(hostpath "$out")" --preset 4 --tag "title=Tagged title" \
  --tag "artist=Some Artist" --tag "ICMT=a comment" --tag "album=Gr$(printf '\xc3\xbc')n")
[ $? -eq 0 ] || fail "render --tag: $msg"

# name, tool's reading, expected
while IFS='|' read -r what got want; do
  [ "$got" = "$want" ] || fail "$what: got '$got', expected '$want'"
done <<EOF2
ffprobe title|$(ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 "$out")|Tagged title
ffprobe artist|$(ffprobe -v error -show_entries format_tags=artist -of default=nw=1:nk=1 "$out")|Some Artist
ffprobe comment|$(ffprobe -v error -show_entries format_tags=comment -of default=nw=1:nk=1 "$out")|a comment
exiftool album|$(exiftool -s3 -Album "$out")|Grün
mediainfo title|$(mediainfo --Inform="General;%Title%" "$out")|Tagged title
EOF2
# The gapless comment survived the tag write: 2624 frames of priming, the
# source's 44100 frames, and as padding what ffprobe counts beyond them.
ts=$(ffprobe -v error -ignore_editlist 1 -select_streams a:0 -show_entries stream=duration_ts -of default=nw=1:nk=1 "$out")
# (exiftool prints the fields as numbers without leading zeros.)
want=$(printf '0 A40 %X %X 0 0 0 0 0 0 0 0' $((ts - 2624 - 44100)) 44100)
smpb=$(exiftool -s3 -iTunSMPB "$out")
[ "$smpb" = "$want" ] || fail "iTunSMPB after the tags: '$smpb', expected '$want' (stream of $ts frames)"

msg=$(h tags "$(hostpath "$out")")
[ $? -eq 0 ] || fail "tags exited non-zero: $msg"
for line in "  title: Tagged title" "  artist: Some Artist" "  comment: a comment" "  album: Grün" \
  "markers: 0" "project link: none"; do
  grep -qxF -- "$line" <<< "$msg" || fail "tags lacks '$line': $msg"
done

# Markers (0.5 s long at 0.5 s ... in the order the render test handed them)
# and the project link of the render test's file.
g="$VOG_FIXTURE_DIR/render/points_and_regions.mp4"
if [ -s "$g" ]; then
  msg=$(h tags "$(hostpath "$g")")
  [ $? -eq 0 ] || fail "tags of the marked file exited non-zero: $msg"
  for line in "markers: 4" "project link: 3 fields" '  project path: "C:\p.vpr"' '  command line: "vog /r"' \
    "  renderer: {5a64caa1-fa2a-45a8-b777-88e039add0a8}"; do
    grep -qxF -- "$line" <<< "$msg" || fail "marked file's tags lack '$line': $msg"
  done
  [ "$(grep -c '^  at ' <<< "$msg")" -eq 4 ] || fail "marker lines: $msg"
  grep -qF "  at 0.500 s, 2.000 s long" <<< "$msg" || fail "the region at 0.5 s: $msg"
else
  fail "$g missing (made by vogaac2_tests)"
fi

# Bad usage.
h tags > /dev/null; [ $? -eq 2 ] || fail "tags without a file is not a usage error"
h render "$(hostpath "$work/in.wav")" "$(hostpath "$work/x.m4a")" --tag "nokey" > /dev/null
[ $? -eq 2 ] || fail "--tag without '=' is not a usage error"
h render "$(hostpath "$work/in.wav")" "$(hostpath "$work/x.m4a")" --tag "colour=red" > /dev/null
[ $? -eq 2 ] || fail "--tag with an unknown key is not a usage error"
[ ! -e "$work/x.m4a" ] || fail "a refused render left a file"
h tags "$(hostpath "$work/none.m4a")" > /dev/null; [ $? -eq 1 ] || fail "tags of a missing file did not fail"
[ "$status" -eq 0 ] && echo "host tags: all checks passed"
exit "$status"
