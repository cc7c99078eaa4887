#!/usr/bin/env bash
# aacdec and mp4dump on damaged variants of an ffmpeg-made file (made by the
# container library's patcher), against ffprobe and ffmpeg:
#  - sizes and chunk tables that claim 0xFFFFFFFF samples where the time table
#    lists N (ffprobe's count): N units, at once;
#  - a file cut halfway through unit K + 1: K units decoded, as ffmpeg decodes
#    the cut file, and the missing units reported on stderr (status 3);
#  - the configuration 12 12 (dependsOnCoreCoder, the delay missing): decoded
#    as ffmpeg decodes it.
set -euo pipefail
dec="$VOG_BIN_DIR/aacdec"
dump="$VOG_BIN_DIR/mp4dump"
run=()
wp() { echo "$1"; }
if [ "$VOG_WIN32" = "ON" ]; then
  dec="$dec.exe"
  dump="$dump.exe"
  run=("$VOG_SOURCE_DIR/scripts/wine-run")
  wp() { echo "Z:${1//\//\\}"; }  # the programs see Windows paths
fi
patch="$VOG_SOURCE_DIR/mp4/tests/patch_mp4.py"
src="$VOG_FIXTURE_DIR/aacdec/st44k.m4a"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

units=$(ffprobe -v error -select_streams a:0 -show_entries stream=nb_frames -of csv=p=0 "$src")
cut=40
/usr/bin/python3 "$patch" huge "$src" "$out/huge.m4a"
/usr/bin/python3 "$patch" cut $cut "$src" "$out/cut.m4a"
/usr/bin/python3 "$patch" asc 1212 "$src" "$out/asc.m4a"
ffmpeg -v error -y -ignore_editlist 1 -i "$src" -f f32le "$out/whole.f32"
ffmpeg -v error -y -ignore_editlist 1 -i "$out/asc.m4a" -f f32le "$out/asc.f32"
ffmpeg -v error -y -ignore_editlist 1 -i "$out/cut.m4a" -f f32le "$out/cut.f32" 2>/dev/null || true
[ "$(ffprobe -v error -select_streams a:0 -show_entries stream=nb_frames -of csv=p=0 "$out/huge.m4a")" = "$units" ] ||
  fail "ffprobe's count of the huge tables"

# decode NAME: aacdec's status and stderr into $out/NAME.status and .err.
decode() {
  local status=0
  timeout 120 "${run[@]}" "$dec" "$(wp "$out/$1.m4a")" "$(wp "$out/$1.wav")" 2>"$out/$1.err" || status=$?
  echo $status >"$out/$1.status"
  [ $status -ne 124 ] || fail "$1: aacdec still running after 120 s"
}
# compare NAME REFERENCE FRAMES: the WAV holds FRAMES stereo frames that match
# REFERENCE's first FRAMES to 100 dB.
compare() {
  /usr/bin/python3 - "$out/$1.wav" "$2" "$3" <<'PY'
import sys
import numpy as np
d = open(sys.argv[1], "rb").read()
i = d.find(b"data")
ours = np.frombuffer(d[i + 8:], dtype="<f4").reshape(-1, 2).astype(float)
ref = np.fromfile(sys.argv[2], dtype="<f4").reshape(-1, 2).astype(float)
frames = int(sys.argv[3])
assert len(ours) == frames, (sys.argv[1], len(ours), frames)
ref = ref[:frames]
snr = 10 * np.log10((ref ** 2).sum() / max(((ref - ours) ** 2).sum(), 1e-30))
print("%s: %d frames, SNR %.1f dB against ffmpeg" % (sys.argv[1], len(ours), snr))
assert snr >= 100, snr
PY
}

decode huge
[ "$(cat "$out/huge.status")" = 0 ] || fail "huge: status $(cat "$out/huge.status"): $(cat "$out/huge.err")"
compare huge "$out/whole.f32" $((units * 1024))

decode cut
[ "$(cat "$out/cut.status")" = 3 ] || fail "cut: status $(cat "$out/cut.status"), expected 3"
grep -q "$((units - cut)) units missing" "$out/cut.err" || fail "cut: stderr: $(cat "$out/cut.err")"
ffmpeg_frames=$(($(stat -c %s "$out/cut.f32") / 8))
[ "$ffmpeg_frames" = $((cut * 1024)) ] || fail "cut: ffmpeg decodes $ffmpeg_frames frames"
compare cut "$out/whole.f32" $((cut * 1024))

decode asc
[ "$(cat "$out/asc.status")" = 0 ] || fail "asc 12 12: status $(cat "$out/asc.status"): $(cat "$out/asc.err")"
compare asc "$out/asc.f32" $((units * 1024))

# mp4dump lists the same units, at once, and reports the cut file's missing ones.
timeout 120 "${run[@]}" "$dump" --samples "$(wp "$out/huge.m4a")" >"$out/huge.dump" || fail "mp4dump huge: status $?"
grep -qx "samples $units" <(tr -d '\r' <"$out/huge.dump") || fail "mp4dump huge: $(grep samples "$out/huge.dump")"
timeout 120 "${run[@]}" "$dump" --samples "$(wp "$out/cut.m4a")" >"$out/cut.dump" 2>"$out/cut.dumperr" ||
  fail "mp4dump cut: status $?"
grep -qx "samples $cut" <(tr -d '\r' <"$out/cut.dump") || fail "mp4dump cut: $(grep samples "$out/cut.dump")"
grep -q "$((units - cut)) samples the tables list are not in the file" "$out/cut.dumperr" ||
  fail "mp4dump cut: stderr: $(cat "$out/cut.dumperr")"
echo "damaged inputs: ok"
