#!/usr/bin/env bash
# The registry values are written again right before they are read back: the
# Wine server of the prefix may stop and restart between the metric test and
# this check (they run far apart under CTest), and a restart racing the old
# server's save can lose what was written.
set -euo pipefail
wine_run="$VOG_SOURCE_DIR/scripts/wine-run"
(cd "$VOG_BIN_DIR" && "$wine_run" ./kvbasesys_metric_tests.exe --gtest_brief=1 >/dev/null) ||
  { echo "FAIL: kvbasesys_metric_tests did not write the values"; exit 1; }
exec /usr/bin/python3 "$(dirname "$0")/check_metrics.py" "$VOG_FIXTURE_DIR" "$wine_run"
