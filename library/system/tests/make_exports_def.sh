#!/usr/bin/env bash
# Regenerates kvbasesys_exports.def from the system services' headers and the
# exported CLog members (kvlog_exports.def). Run from library/system.
set -euo pipefail
cd "$(dirname "$0")/.."
{ /usr/bin/python3 ../base/tests/kvexports.py def kverror.h kvmsgbox.h kvreg.h kvmetric.h kvpath.h kvres.h kvhelp.h 2>/dev/null
  cat kvlog_exports.def; } > kvbasesys_exports.def
