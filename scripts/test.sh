#!/usr/bin/env bash
# The project's test command: installs what is missing, builds the builds and
# runs every test that this machine can run.
#
# Where 32-bit x86 code runs: the 32-bit Windows product (its tests under
# wine32) and the native Linux build with sanitizers. Where it does not: the
# 32-bit product (the DLL and its programs) is still built, so it is known to
# compile, and the tests run as the 64-bit Windows test build (win64, under
# wine64) beside the native build; a
# line says that the win32 tests were not run and why. It fails when any test
# that ran fails, and never counts a test that did not run as passed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/vog-env.sh
start=$(date +%s)
bash scripts/setup.sh
jobs=$(nproc)

if vog_runs_i386; then
  build=(win32 native)
  run=(win32 native)
  skipped=""
else
  build=(win32:product win64 native)
  run=(win64 native)
  skipped="win32 tests not run: $(vog_no_i386_reason); the win32 DLL and programs were built and the tests ran as the win64 build"
fi
# The 32-bit product alone: the DLL, its surrogate and proxy DLL, the stand-in
# host and the tools.
product_targets=(vogaac2 host aacdec aacenc mp4dump tokenowner DizuVOSurrogate kvfioproxy)

status=0
for entry in "${build[@]}"; do
  preset=${entry%%:*}
  cmake --preset "$preset" >/dev/null
  if [ "$entry" = "$preset:product" ]; then
    cmake --build --preset "$preset" -j "$jobs" --target "${product_targets[@]}"
  else
    cmake --build --preset "$preset" -j "$jobs"
  fi
done
# The fuzz targets, built with clang, replay every committed corpus under
# address, undefined and bounds sanitizers that stop at the first report: a
# replay, not fuzzing (only the fuzz programs are built in that tree).
cmake --preset native-fuzz >/dev/null
cmake --build --preset native-fuzz -j "$jobs" --target vog_fuzz_targets
run+=(native-fuzz)
for preset in "${run[@]}"; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" || status=1
done
[ -z "$skipped" ] || echo "test.sh: $skipped"
echo "test.sh: tests run: ${run[*]}; $(( $(date +%s) - start )) s"
exit $status
