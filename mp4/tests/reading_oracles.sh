#!/usr/bin/env bash
# Checks the box reader and the track reader against independent programs:
# for every MP4 fixture (ffmpeg, AtomicParsley) and every public test vector,
# the dumped box tree must equal an independent walk (and AtomicParsley -T for
# the fixtures), and the audio samples and decoder configuration must equal
# ffprobe's packets and extradata.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
py=/usr/bin/python3
fixtures="$VOG_FIXTURE_DIR/mp4"
vectors="$VOG_SHARED_DIR/vectors/mp4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
dump() { run_build_tool mp4dump "$@"; }

require_tool ffprobe AtomicParsley
[ -e "$fixtures/MISSING_TOOLS" ] && tool_missing "$(cat "$fixtures/MISSING_TOOLS")"

check() {  # file strict-atomicparsley(yes/no)
  local f=$1 strict=$2 d="$work/$(basename "$1").dump"
  dump --samples "$(hostpath "$f")" > "$d"
  local rc=$?
  if [ $rc -ne 0 ] && [ $rc -ne 3 ] && [ $rc -ne 5 ]; then
    echo "FAIL: mp4dump exit $rc on $f"; failures=$((failures + 1)); return
  fi
  if [ "$strict" = yes ]; then
    $py "$here/boxtree_compare.py" "$d" "$f" --atomicparsley || { failures=$((failures + 1)); }
  else
    $py "$here/boxtree_compare.py" "$d" "$f" || { failures=$((failures + 1)); }
    $py "$here/boxtree_compare.py" "$d" "$f" --atomicparsley > "$work/ap.txt" 2>&1
    case $? in
      0) echo "$(basename "$f"): tree equals the independent walk and AtomicParsley" ;;
      *) echo "$(basename "$f"): tree equals the independent walk; AtomicParsley differs: $(head -1 "$work/ap.txt")" ;;
    esac
  fi
  case "$(basename "$f")" in
    frag_*)
      # Fragmented files keep their samples in 'moof' boxes, which the track
      # reader does not read: their tables are empty and the track is refused.
      if [ $rc -ne 3 ] || ! grep -q '^samples none$' "$d"; then
        echo "FAIL: fragmented file not refused (exit $rc)"; failures=$((failures + 1))
      else
        echo "$(basename "$f"): fragmented, refused"
      fi ;;
    *) $py "$here/samples_compare.py" "$d" "$f" || failures=$((failures + 1)) ;;
  esac
}

count=0
for f in "$fixtures"/*.m4a "$fixtures"/*.mp4 "$fixtures"/*.3gp; do
  [ -e "$f" ] || continue
  check "$f" yes; count=$((count + 1))
done
if [ -d "$vectors" ]; then
  for f in "$vectors"/*; do check "$f" no; count=$((count + 1)); done
else
  echo "vectors folder absent: skipped"
fi
echo "$count files checked, $failures failures"
[ $failures -eq 0 ]
