#!/usr/bin/env bash
# Every public function of the base headers is exported from vogaac2.dll under
# its decorated __stdcall name.
set -euo pipefail
src="$VOG_SOURCE_DIR/library/base"
exec /usr/bin/python3 "$(dirname "$0")/kvexports.py" check "$VOG_BIN_DIR/vogaac2.dll" \
  "$src/kvstr.h" "$src/kvlist.h" "$src/kvlang.h" "$src/kvclock.h"
