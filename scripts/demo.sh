#!/usr/bin/env bash
# Builds the plug-in and runs the stand-in host on its default job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" >/dev/null
exec scripts/host info
