#!/bin/bash
# Test inputs of the SBR library, made from the standard's tables (JSON) and
# numpy: every Huffman codeword, the start-offset rows, and QMF reference output.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool py:numpy
out="$1/sbr"
mkdir -p "$out"
tables="$(dirname "$0")/../../../../../shared/aac-tables"
[ -n "${2:-}" ] && tables="$2/aac-tables"
if [ ! -f "$tables/sbr_huffman.json" ]; then
  echo "aac-tables not found; skipping" >&2
  exit 0
fi
/usr/bin/python3 "$(dirname "$0")/make_fixtures.py" "$tables" "$out"
