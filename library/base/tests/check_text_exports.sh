#!/usr/bin/env bash
# Every public function of the text and system headers is exported from
# vogaac2.dll under its decorated name.
set -euo pipefail
src="$VOG_SOURCE_DIR/library/base"
exec /usr/bin/python3 "$(dirname "$0")/kvexports.py" check "$VOG_BIN_DIR/vogaac2.dll" \
  "$src/kvprintf.h" "$src/kvnumtext.h" "$src/kvtimetext.h" "$src/kvsmpte.h" "$src/kvcpu.h" "$src/kvkernel.h"
