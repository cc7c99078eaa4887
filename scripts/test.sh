#!/usr/bin/env bash
# The project's test command: installs what is missing, builds both builds
# (32-bit Windows under Wine, native Linux with sanitizers) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/setup.sh
jobs=$(nproc)
status=0
for preset in win32 native; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
for preset in win32 native; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" || status=1
done
echo "test.sh: $(( $(date +%s) - start )) s"
exit $status
