#!/usr/bin/env bash
set -euo pipefail
exec /usr/bin/python3 "$(dirname "$0")/check_clog.py" "$VOG_FIXTURE_DIR"
