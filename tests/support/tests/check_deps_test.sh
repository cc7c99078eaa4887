#!/usr/bin/env bash
# The dependency check itself: an edge the table does not list fails, a
# listed one passes, and a cycle in the table fails.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../testlib.sh"
check="$here/../../../scripts/check_deps.py"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/cmake" "$tree/low" "$tree/high"
touch "$tree/low/low.h" "$tree/high/high.h"
echo '#include "low.h"' > "$tree/high/high.cpp"

printf 'low:\nhigh: low\n' > "$tree/cmake/dependencies.txt"
/usr/bin/python3 "$check" "$tree" >/dev/null || fail "an allowed edge was refused"

echo '#include "high.h"' > "$tree/low/low.cpp"
out=$(/usr/bin/python3 "$check" "$tree") && fail "an edge the table does not list passed"
echo "$out" | grep -q "low -> high is not allowed" || fail "the refused edge is not named: $out"

printf 'low: high\nhigh: low\n' > "$tree/cmake/dependencies.txt"
out=$(/usr/bin/python3 "$check" "$tree") && fail "a cycle in the table passed"
echo "$out" | grep -q "cycle" || fail "the cycle is not named: $out"
exit $status
