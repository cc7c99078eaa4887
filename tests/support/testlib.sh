# Shared by the shell tests and fixture steps (sourced):
#   . "$VOG_SOURCE_DIR/tests/support/testlib.sh"   (or a path relative to the script)
#
# fail MESSAGE          prints "FAIL: MESSAGE" and counts it: $failures grows by
#                       one and $status becomes 1, so a script ends with
#                       `exit $status` or `[ $failures -eq 0 ]`, as it prefers.
# have_tool TOOL...     true when every tool is there: a program on PATH, or
#                       "py:MODULE" for a module of /usr/bin/python3.
# require_tool TOOL...  ends the script when a tool is missing: "SKIP: ..." on
#                       a developer's machine (exit 77, which CTest counts as
#                       skipped; exit 0 in a fixture step, VOG_FIXTURE_STEP
#                       set, so the tests after it run and skip in turn), and
#                       "FAIL: ..." with exit 1 when CI is set, where every
#                       tool is installed and a skip would hide a fault.
# optional_tool TOOL   for a tool only some checks of a script need: true
#                       when it is there; when missing, false with a note on
#                       a developer's machine (the script leaves those checks
#                       out), and exit 1 with "FAIL: ..." when CI is set.
# tool_missing WHAT     the same ending, for a check the script made itself
#                       (e.g. a fixture step's MISSING_TOOLS marker).
# require_tool_or_mark MARKER TOOL...
#                       for a fixture step: when a tool is missing, writes
#                       the missing names into MARKER (the tests of those
#                       fixtures read it and skip or fail by the same rule),
#                       then ends as require_tool does; else removes MARKER.
# hostpath PATH         PATH as the build's programs open it: Z:\... in the
#                       Windows builds (VOG_WIN32=ON), unchanged natively.
# run_build_tool NAME ARG...
#                       runs the build's program NAME (under Wine in the
#                       Windows builds, with absolute path arguments through
#                       Z: and carriage returns dropped from its output);
#                       returns the program's status.

failures=0
status=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); status=1; }

have_tool() {
  local t
  for t in "$@"; do
    case "$t" in
      py:*) /usr/bin/python3 -c "import ${t#py:}" 2>/dev/null || return 1 ;;
      *) command -v "$t" >/dev/null 2>&1 || return 1 ;;
    esac
  done
}

tool_missing() {
  if [ -n "${CI:-}" ]; then
    echo "FAIL: $* missing, and CI requires every tool"
    exit 1
  fi
  echo "SKIP: $* missing"
  [ -n "${VOG_FIXTURE_STEP:-}" ] && exit 0
  exit 77
}

require_tool() {
  local t missing=()
  for t in "$@"; do have_tool "$t" || missing+=("$t"); done
  [ ${#missing[@]} -eq 0 ] || tool_missing "${missing[*]}"
}

optional_tool() {
  have_tool "$1" && return 0
  if [ -n "${CI:-}" ]; then
    echo "FAIL: $1 missing, and CI requires every tool"
    exit 1
  fi
  echo "note: $1 missing, its checks left out"
  return 1
}

require_tool_or_mark() {
  local marker=$1 t missing=()
  shift
  for t in "$@"; do have_tool "$t" || missing+=("$t"); done
  if [ ${#missing[@]} -eq 0 ]; then
    rm -f "$marker"
    return 0
  fi
  echo "${missing[*]}" >"$marker"
  tool_missing "${missing[*]}"
}

if [ "${VOG_WIN32:-OFF}" = "ON" ]; then
  hostpath() { case "$1" in /*) echo "Z:$(echo "$1" | tr / '\\')" ;; *) echo "$1" ;; esac; }
  run_build_tool() {
    local name=$1 args=() a
    shift
    for a in "$@"; do
      case "$a" in /*) args+=("$(hostpath "$a")") ;; *) args+=("$a") ;; esac
    done
    "$VOG_SOURCE_DIR/scripts/wine-run" "$VOG_BIN_DIR/$name.exe" "${args[@]}" | tr -d '\r'
    return "${PIPESTATUS[0]}"
  }
else
  hostpath() { echo "$1"; }
  run_build_tool() {
    local name=$1
    shift
    "$VOG_BIN_DIR/$name" "$@"
  }
fi
