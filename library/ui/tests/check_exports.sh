#!/usr/bin/env bash
# Every public function of the UI toolkit's headers is exported from
# vogaac2.dll under its decorated name (pefile), and so is every line of the
# toolkit's export fragment (among them the record form of KvGetDialogSize).
set -euo pipefail
src="$VOG_SOURCE_DIR/library/ui"
exec /usr/bin/python3 "$VOG_SOURCE_DIR/library/base/tests/kvexports.py" check "$VOG_BIN_DIR/vogaac2.dll" \
  --def "$src/kvui_exports.def" --at-least 50 "$src"/*.h
