# Shared by the metadata oracle scripts (sourced): the metatag tool run the
# way the build needs it (under Wine with Z: paths in the win32 build), and
# the failure counter with its comparison and PCM-md5 helpers.
if [ "${VOG_WIN32:-OFF}" = "ON" ]; then
  hostpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
  tool() {
    local args=() a
    for a in "$@"; do
      case "$a" in /*) args+=("$(hostpath "$a")") ;; *) args+=("$a") ;; esac
    done
    "$VOG_SOURCE_DIR/scripts/wine-run" "$VOG_BIN_DIR/metatag.exe" "${args[@]}" | tr -d '\r'
    return "${PIPESTATUS[0]}"
  }
else
  hostpath() { echo "$1"; }
  tool() { "$VOG_BIN_DIR/metatag" "$@"; }
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect NAME EXPECTED ACTUAL
expect() {
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(echo "$2") <(echo "$3") | sed 's/^/    /'
  fi
}
pcm() { ffmpeg -nostdin -v error -i "$1" -map 0:a -f md5 - 2>/dev/null; }
