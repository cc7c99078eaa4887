#!/usr/bin/env bash
# The script side of the shared test helpers: testlib.sh's missing-tool rule
# (skip with 77, or 0 in a fixture step; fail with 1 under CI), its failure
# counter, marker and paths; vogtools.py's rule; the MP4 box walker over a
# file built here box by box.
set -uo pipefail
lib="$VOG_SOURCE_DIR/tests/support/testlib.sh"
support="$VOG_SOURCE_DIR/tests/support"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
errors=0
check() {  # name expected actual
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    errors=$((errors + 1))
  fi
}

# require_tool: CI, fixture step (- for unset), tools -> exit status and first word printed.
while read -r ci step tools want_rc want_word; do
  [ "$ci" = - ] && ci=""
  [ "$step" = - ] && step=""
  out=$(env -u CI -u VOG_FIXTURE_STEP ${ci:+CI=$ci} ${step:+VOG_FIXTURE_STEP=$step} \
    bash -c '. "$1"; shift; require_tool "$@"; echo went-on' _ "$lib" ${tools//,/ } 2>&1)
  rc=$?
  check "require_tool $tools (CI=$ci, fixture step=$step) status" "$want_rc" "$rc"
  check "require_tool $tools (CI=$ci, fixture step=$step) output" "$want_word" "${out%% *}"
done <<'CASES'
- - sh,py:os 0 went-on
- - sh,no-such-tool-vog 77 SKIP:
- 1 no-such-tool-vog 0 SKIP:
1 - no-such-tool-vog 1 FAIL:
true 1 py:no_such_module_vog 1 FAIL:
1 - sh 0 went-on
CASES

# optional_tool: there (0), missing locally (1, the script goes on), missing under CI (exit 1).
while read -r ci tool want; do
  [ "$ci" = - ] && ci=""
  out=$(env -u CI ${ci:+CI=$ci} bash -c '. "$1"; optional_tool "$2"; echo "rc=$?"' _ "$lib" "$tool" 2>&1)
  check "optional_tool $tool (CI=$ci)" "$want" "$(tail -n 1 <<<"$out")"
done <<'CASES'
- sh rc=0
- py:no_such_module_vog rc=1
1 py:no_such_module_vog FAIL: py:no_such_module_vog missing, and CI requires every tool
CASES

# The marker of a fixture step names what was missing, and goes when all is there.
(cd "$work" && env -u CI VOG_FIXTURE_STEP=1 bash -c '. "$1"; require_tool_or_mark M sh no-such-tool-vog' _ "$lib" >/dev/null)
check "marker status" 0 $?
check "marker text" "no-such-tool-vog" "$(cat "$work/M" 2>/dev/null)"
(cd "$work" && bash -c '. "$1"; require_tool_or_mark M sh' _ "$lib")
check "marker removed" "absent" "$([ -e "$work/M" ] && echo present || echo absent)"

# fail counts and sets status; paths by build.
out=$(bash -c '. "$1"; fail one >/dev/null; fail two >/dev/null; echo "$failures $status"' _ "$lib")
check "failure counter" "2 1" "$out"
check "hostpath, Windows build" 'Z:\a\b c' "$(VOG_WIN32=ON bash -c '. "$1"; hostpath "/a/b c"' _ "$lib")"
check "hostpath, Windows build, relative" 'rel/x' "$(VOG_WIN32=ON bash -c '. "$1"; hostpath rel/x' _ "$lib")"
check "hostpath, native build" '/a/b' "$(VOG_WIN32=OFF bash -c '. "$1"; hostpath /a/b' _ "$lib")"

# vogtools.py: the same rule for the Python checks.
while read -r ci module want_rc; do
  [ "$ci" = - ] && ci=""
  env -u CI ${ci:+CI=$ci} PYTHONPATH="$support" /usr/bin/python3 -c \
    "import vogtools; vogtools.require(modules=['$module'])" >/dev/null
  check "vogtools $module (CI=$ci)" "$want_rc" $?
done <<'CASES'
- os 0
- no_such_module_vog 77
1 no_such_module_vog 1
CASES

# mp4walk: 32- and 64-bit sizes, a size of 0 running to the end, nested
# boxes, and a box running past its parent stopping the walk.
PYTHONPATH="$support" /usr/bin/python3 - <<'PY' || errors=$((errors + 1))
import struct, sys
import mp4walk

def box(kind, payload):
    return struct.pack('>I4s', 8 + len(payload), kind) + payload

def large(kind, payload):
    return struct.pack('>I4sQ', 1, kind, 16 + len(payload)) + payload

trak = box(b'trak', box(b'tkhd', b'\0' * 4) + box(b'mdia', box(b'hdlr', b'soun')))
data = box(b'ftyp', b'M4A ') + large(b'moov', trak + box(b'udta', b'')) + struct.pack('>I4s', 0, b'mdat') + b'xyz'
got = [(k, b, s) for k, b, s in mp4walk.boxes(data, 0, len(data))]
moov_at = 12
want = [(b'ftyp', 8, 12), (b'moov', moov_at + 16, moov_at + 16 + len(trak) + 8), (b'mdat', len(data) - 3, len(data))]
bad = []
if got != want:
    bad.append('top level %r, expected %r' % (got, want))
hdlr = mp4walk.find(data, 0, len(data), [b'moov', b'trak', b'mdia', b'hdlr'])
if hdlr is None or data[hdlr[0]:hdlr[1]] != b'soun':
    bad.append('find moov/trak/mdia/hdlr: %r' % (hdlr,))
if mp4walk.find(data, 0, len(data), ['moov', 'udta']) != (moov_at + 16 + len(trak) + 8, moov_at + 16 + len(trak) + 8):
    bad.append('find with string types')
if mp4walk.find(data, 0, len(data), [b'moov', b'stbl']) is not None:
    bad.append('found a box that is not there')
cut = box(b'free', b'') + struct.pack('>I4s', 100, b'skip') + b'\0' * 10
if [k for k, _, _ in mp4walk.boxes(cut, 0, len(cut))] != [b'free']:
    bad.append('a box past the end was listed')
for b in bad:
    print('FAIL: mp4walk:', b)
sys.exit(1 if bad else 0)
PY

[ $errors -eq 0 ] && echo "test support scripts: ok"
[ $errors -eq 0 ]
