# Shared by the metadata oracle scripts (sourced, after testlib.sh): the
# metatag tool run the way the build needs it (under Wine with Z: paths in the
# Windows builds), and the comparison and PCM-md5 helpers.
tool() { run_build_tool metatag "$@"; }

# expect NAME EXPECTED ACTUAL
expect() {
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(echo "$2") <(echo "$3") | sed 's/^/    /'
  fi
}
pcm() { ffmpeg -nostdin -v error -i "$1" -map 0:a -f md5 - 2>/dev/null; }
