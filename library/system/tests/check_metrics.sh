#!/usr/bin/env bash
set -euo pipefail
exec /usr/bin/python3 "$(dirname "$0")/check_metrics.py" "$VOG_FIXTURE_DIR" "$VOG_SOURCE_DIR/scripts/wine-run"
