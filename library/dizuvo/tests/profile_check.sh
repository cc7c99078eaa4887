#!/usr/bin/env bash
# Reads the profile file that the profile test wrote with Python's
# configparser and compares every section, key and value.
set -euo pipefail
/usr/bin/python3 - "$VOG_FIXTURE_DIR/profile/FFCache.ini" <<'PY'
import configparser, sys
cp = configparser.RawConfigParser(strict=True)
cp.optionxform = str
with open(sys.argv[1], encoding="latin-1") as f:
    cp.read_file(f)
want = {
    "vogaac2": {"Path": r"C:\Program Files\Orvane\vogaac2.dll", "ModTime": "1234567890",
                "{5A64CAA1-FA2A-45A8-B777-88E039ADD0A8}": "VOG AAC 2 File Format"},
    "vogaac2.{5A64CAA1-FA2A-45A8-B777-88E039ADD0A8}": {"Access": "48", "Flags": "0", "StreamType": "-1",
                                                       "AppLevel": "65535"},
    "{5A64CAA1-FA2A-45A8-B777-88E039ADD0A8}": {"Reader": "{249F8688-FB9A-4FAE-9ED5-2EC66D1DD39C}",
                                               "ExtReader": "*.m4a;*.mp4", "LangID": "1033"},
}
got = {s: dict(cp.items(s)) for s in cp.sections()}
if got != want:
    print("written:", got)
    print("expected:", want)
    sys.exit(1)
print("profile file as configparser reads it: ok")
PY
