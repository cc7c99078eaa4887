#!/usr/bin/env bash
# Test fixture for the path tests (see make_path_fixtures.py). Arguments: fixture dir, bin dir.
set -euo pipefail
mkdir -p "$1"
/usr/bin/python3 "$(dirname "$0")/make_path_fixtures.py" "$1" "$2"
