#!/usr/bin/env bash
# Test fixture: the string tables of vogaac2.dll and vogaac2.LNG as pefile
# reads them, for the language tests to compare with.
# Arguments: fixture dir, bin dir.
set -euo pipefail
mkdir -p "$1"
/usr/bin/python3 "$(dirname "$0")/dump_string_tables.py" "dll=$2/vogaac2.dll" "lng=$2/vogaac2.LNG" \
  > "$1/string_tables.tsv.tmp"
mv "$1/string_tables.tsv.tmp" "$1/string_tables.tsv"
