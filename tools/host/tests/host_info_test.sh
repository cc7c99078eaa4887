#!/usr/bin/env bash
# The stand-in host under Wine: "info" prints the plug-in's info row; bad usage
# and a missing DLL fail cleanly.
set -uo pipefail
run="$VOG_SOURCE_DIR/scripts/wine-run"
host="$VOG_BIN_DIR/host.exe"
dll="$VOG_BIN_DIR/vogaac2.dll"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"

expected='items 1
item 0 {abd1218c-b335-4343-b578-00aa006ba2ba} "VOG AAC 2 File Format" access=0x00000030 type=0x00000001 level=0x00480048 v4=0x00000000 v5=0x00000000 v6=0x00000000 zero=0x00000000 last=0x00000000'

# By path, and from the host's own folder.
for args in "--dll $dll info" "info"; do
  out=$("$run" "$host" $args 2>&1 | tr -d '\r'); rc=$?
  [ "$rc" -eq 0 ] || fail "host $args exited $rc: $out"
  [ "$out" = "$expected" ] || fail "host $args printed:
$out
expected:
$expected"
done

# The project's wrapper (scripts/host) runs the same host on the same tree.
for preset in win32 win64; do
  if [ "$VOG_BIN_DIR" -ef "$VOG_SOURCE_DIR/build/$preset/bin" ]; then
    out=$(VOG_HOST_PRESET=$preset "$VOG_SOURCE_DIR/scripts/host" info 2>&1 | tr -d '\r')
    [ "$out" = "$expected" ] || fail "scripts/host info printed:
$out"
  fi
done

# A DLL that does not exist: exit 1 with a message naming it.
out=$("$run" "$host" --dll "$VOG_BIN_DIR/no-such-plugin.dll" info 2>&1 | tr -d '\r')
rc=${PIPESTATUS[0]}
[ "$rc" -eq 1 ] || fail "missing DLL: exit $rc"
grep -q 'cannot load .*no-such-plugin.dll' <<<"$out" || fail "missing DLL message: $out"

# No verb, or an unknown one: usage, exit 2.
"$run" "$host" >/dev/null 2>&1; rc=$?
[ "$rc" -eq 2 ] || fail "no verb: exit $rc"
"$run" "$host" frobnicate >/dev/null 2>&1; rc=$?
[ "$rc" -eq 2 ] || fail "unknown verb: exit $rc"

[ "$status" -eq 0 ] && echo "host info: ok"
exit $status
