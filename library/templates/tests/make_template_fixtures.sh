#!/usr/bin/env bash
# Builds the template fixtures (struct-built records and their zlib/hashlib
# identities) into the fixture folder given as $1.
set -euo pipefail
exec /usr/bin/python3 "$(dirname "$0")/make_template_fixtures.py" "$1"
