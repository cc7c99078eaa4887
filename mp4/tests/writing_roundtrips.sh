#!/usr/bin/env bash
# The writing side against independent programs: files read for a metadata
# rewrite and written back unchanged are byte-identical (in place and through
# the copy); after 'moov' grows, the file is rewritten in place when the 'free'
# box before 'mdat' absorbs it and through the copy otherwise, ffprobe stays
# silent and the decoded PCM is unchanged; the track writer's files give
# ffprobe's packet list and ffmpeg's ADTS bytes of the source; failed writes
# leave the original (and a user's own ".bak") untouched.
set -uo pipefail
fixtures="$VOG_FIXTURE_DIR/mp4"
work="$(mktemp -d)"
mounted=""
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe
[ -e "$fixtures/MISSING_TOOLS" ] && tool_missing "$(cat "$fixtures/MISSING_TOOLS")"
tool() { run_build_tool mp4dump "$@"; }

pcm() { ffmpeg -nostdin -v error -i "$1" -f s16le - | md5sum | cut -d' ' -f1; }
packets() { ffprobe -v error -ignore_editlist 1 -select_streams a:0 -show_entries packet=size,duration -of csv=p=0 "$1" | md5sum | cut -d' ' -f1; }
adts() { ffmpeg -nostdin -v error -i "$1" -c copy -f adts - | md5sum | cut -d' ' -f1; }

# 1. Unchanged round trips, in place and through the copy.
for f in "$fixtures"/*.m4a "$fixtures"/*.mp4 "$fixtures"/*.3gp; do
  [ -e "$f" ] || continue
  b=$(basename "$f")
  cp "$f" "$work/a_$b"; cp "$f" "$work/c_$b"
  r1=$(tool --rewrite "$work/a_$b"); r2=$(tool --rewrite --copy "$work/c_$b")
  [ "${r1%% *}" = failed ] && fail "$b: rewrite failed"
  [ "${r2%% *}" = copy ] || fail "$b: copy rewrite took [$r2]"
  cmp -s "$f" "$work/a_$b" || fail "$b: rewrite ($r1) is not byte-identical"
  cmp -s "$f" "$work/c_$b" || fail "$b: copy rewrite ($r2) is not byte-identical"
  [ -e "$work/c_$b.bak" ] && fail "$b: backup left behind"
  echo "$b: unchanged rewrite [$r1] and [${r2%% backup*}] byte-identical"
done

# 1b. The public vectors: a rewrite either succeeds with the decoded audio
# unchanged (a 'free' box's content is written as zeros, an 'mdat' of size 0
# gets its real size) or is refused with the file untouched, when the tree does
# not hold all of its bytes.
if [ -d "$VOG_SHARED_DIR/vectors/mp4" ]; then
  for f in "$VOG_SHARED_DIR"/vectors/mp4/*; do
    b=$(basename "$f"); v="$work/v_$b"
    cp "$f" "$v"; chmod u+w "$v"
    r=$(tool --rewrite "$v")
    if [ "$r" = failed ]; then
      cmp -s "$f" "$v" || fail "$b: refused rewrite changed the file"
      echo "$b: rewrite refused (the tree does not hold every byte), file unchanged"
    elif cmp -s "$f" "$v"; then
      echo "$b: rewrite [$r] byte-identical"
    else
      a=$(ffmpeg -nostdin -v error -i "$f" -map 0:a:0? -f s16le - 2>/dev/null | md5sum)
      c=$(ffmpeg -nostdin -v error -i "$v" -map 0:a:0? -f s16le - 2>/dev/null | md5sum)
      [ "$a" = "$c" ] || fail "$b: rewrite [$r] changed the decoded audio"
      echo "$b: rewrite [${r%% backup*}] differs in bytes only where allowed; decoded audio unchanged"
    fi
  done
fi

# 2. 'moov' grown by an added box.
grow() {  # file bytes expected-path
  local b=$1 n=$2 want=$3 g="$work/g_$1"
  cp "$fixtures/$b" "$g"
  local r; r=$(tool --rewrite --grow "$n" "$g")
  case "$r" in "$want"*) ;; *) fail "$b +$n: took [$r], expected [$want]" ;; esac
  local w; w=$(ffprobe -v warning "$g" 2>&1)
  [ -z "$w" ] || fail "$b +$n: ffprobe says: $w"
  [ "$(pcm "$fixtures/$b")" = "$(pcm "$g")" ] || fail "$b +$n: decoded PCM changed"
  echo "$b: moov +$n bytes [$r], size $(stat -c%s "$fixtures/$b") -> $(stat -c%s "$g"), ffprobe silent, PCM unchanged"
}
grow lc_mono_44100.m4a 500 "in place"      # 'moov' after 'mdat'
grow ap_tagged.m4a 16 "in place"           # absorbed by the 48-byte 'free' before 'mdat'
grow ap_tagged.m4a 40 "in place"           # leaves the 'free' box its bare header
grow ap_tagged.m4a 41 "copy"               # one byte too many
grow fast_stereo_48000.m4a 16 "copy"       # 'free' of 8 bytes before 'mdat'
grow tagged.3gp 40 "in place"
grow av.mp4 64 "in place"

# 3. The track writer: a new one-track file from the source's access units.
remux() {  # file expected-path
  local b=$1 want=$2 r out="$work/r_$1"
  r=$(tool --remux "$fixtures/$b" "$out")
  [ "$r" = "$want" ] || fail "$b: remux took [$r], expected [$want]"
  [ "$(packets "$fixtures/$b")" = "$(packets "$out")" ] || fail "$b: packet list (size, duration) differs"
  [ "$(adts "$fixtures/$b")" = "$(adts "$out")" ] || fail "$b: ADTS bytes differ"
  local w; w=$(ffprobe -v warning "$out" 2>&1)
  [ -z "$w" ] || fail "$b: ffprobe says: $w"
  echo "$b: track writer [$r], $(stat -c%s "$out") bytes, packets and ADTS bytes equal the source"
}
remux lc_stereo_48000.m4a "in place"
remux lc_51_32000.m4a "in place"
remux long_1min_44100.m4a "in place"
remux long_6min_44100.m4a "copy"

# 4. Failing writes: the original survives, a user's ".bak" is never touched.
if [ "${VOG_WIN32:-OFF}" != "ON" ]; then
  f="$work/fail.m4a"
  cp "$fixtures/long_1min_44100.m4a" "$f"; echo "the user's own backup" > "$f.bak"
  before=$(md5sum < "$f"); bak=$(md5sum < "$f.bak")
  r=$( (trap '' XFSZ; ulimit -f 300; tool --rewrite --grow 200000 "$f") )
  [ "${r%% *}" = "failed" ] || fail "copy past the file size limit reported [$r]"
  [ "$(md5sum < "$f")" = "$before" ] || fail "original changed after a failed copy"
  [ "$(md5sum < "$f.bak")" = "$bak" ] || fail "the user's .bak was touched"
  [ "$(ls "$work" | grep -c '^fail.m4a')" = 2 ] || fail "files left behind: $(ls "$work" | grep fail)"
  echo "copy past the size limit: [$r], original and user's .bak unchanged"
  g="$work/fail2.m4a"
  cp "$fixtures/lc_mono_44100.m4a" "$g"; before=$(md5sum < "$g")
  r=$( (trap '' XFSZ; ulimit -f 30; tool --rewrite --grow 50000 "$g") )
  [ "$r" = "failed" ] || fail "in-place write past the size limit reported [$r]"
  [ "$(md5sum < "$g")" = "$before" ] || fail "original changed after a failed in-place write"
  echo "in-place write past the size limit: [$r], original restored"
fi

# A full file system, where one can be mounted (both builds).
small="$work/small"; mkdir -p "$small"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=700k tmpfs "$small" 2>/dev/null; then
  mounted="$small"
  cp "$fixtures/long_1min_44100.m4a" "$small/full.m4a"; before=$(md5sum < "$small/full.m4a")
  r=$(tool --rewrite --copy "$small/full.m4a")
  [ "${r%% *}" = "failed" ] || fail "copy on a full file system reported [$r]"
  [ "$(md5sum < "$small/full.m4a")" = "$before" ] || fail "original changed on a full file system"
  [ "$(ls "$small")" = "full.m4a" ] || fail "files left on the full file system: $(ls "$small")"
  echo "copy on a full 700 KiB tmpfs: [$r], original unchanged, nothing left behind"
  rm -f "$small/full.m4a"
  cp "$fixtures/lc_mono_44100.m4a" "$small/grow.m4a"; before=$(md5sum < "$small/grow.m4a")
  dd if=/dev/zero of="$small/filler" bs=1k count=2000 2>/dev/null  # fills what is left
  r=$(tool --rewrite --grow 60000 "$small/grow.m4a")
  [ "$r" = "failed" ] || fail "in-place growth on a full file system reported [$r]"
  [ "$(md5sum < "$small/grow.m4a")" = "$before" ] || fail "original changed by a failed in-place write"
  echo "in-place growth on a full tmpfs: [$r], original restored"
else
  echo "no tmpfs could be mounted: full-disk cases skipped"
fi

echo "$failures failures"
[ $failures -eq 0 ]
