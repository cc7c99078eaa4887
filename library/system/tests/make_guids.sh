#!/usr/bin/env bash
# Test fixture: GUIDs and their fields as Python's uuid module gives them.
set -euo pipefail
mkdir -p "$1"
/usr/bin/python3 "$(dirname "$0")/make_guids.py" "$1/guids.txt"
