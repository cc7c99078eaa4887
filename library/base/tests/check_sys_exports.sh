#!/usr/bin/env bash
set -euo pipefail
exec /usr/bin/python3 "$(dirname "$0")/check_sys_exports.py" "$VOG_BIN_DIR/vogaac2.dll" "$VOG_SOURCE_DIR"
