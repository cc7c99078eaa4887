"""The missing-tool rule for the Python checks, as testlib.sh's require_tool
has it for the shell ones: where a module or program is missing, the check is
skipped on a developer's machine (exit 77, which CTest counts as skipped) and
fails when the environment variable CI is set (not empty), where every tool
is installed and a skip would hide a fault.
"""
import importlib.util
import os
import shutil
import sys


def tool_missing(what):
    if os.environ.get("CI"):
        print("FAIL: %s missing, and CI requires every tool" % what)
        sys.exit(1)
    print("SKIP: %s missing" % what)
    sys.exit(77)


def require(modules=(), programs=()):
    """Ends the check by the rule above unless every module imports and every program is on PATH."""
    missing = [m for m in modules if importlib.util.find_spec(m) is None]
    missing += [p for p in programs if shutil.which(p) is None]
    if missing:
        tool_missing(" ".join(missing))
