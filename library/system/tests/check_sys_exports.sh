#!/usr/bin/env bash
# Every public function of the system services' headers and of the UI
# services is exported from vogaac2.dll under its decorated name, and so are
# the exported CLog members.
set -euo pipefail
src="$VOG_SOURCE_DIR/library/system"
exec /usr/bin/python3 "$VOG_SOURCE_DIR/library/base/tests/kvexports.py" check "$VOG_BIN_DIR/vogaac2.dll" \
  --def "$src/kvlog_exports.def" --at-least 150 \
  "$src/kverror.h" "$src/kvmsgbox.h" "$src/kvreg.h" "$src/kvmetric.h" "$src/kvpath.h" "$src/kvres.h" \
  "$src/kvhelp.h" "$VOG_SOURCE_DIR/library/ui/kvui.h"
