#!/usr/bin/env bash
# Reads the plug-in cache that the manager tests wrote with Python's
# configparser and checks its sections, keys and values against the layout.
set -euo pipefail
/usr/bin/python3 - "$VOG_FIXTURE_DIR/fiomanager/check/FFCache.ini" <<'PY'
import configparser, re, sys
cp = configparser.RawConfigParser(strict=True)
cp.optionxform = str
with open(sys.argv[1], encoding="latin-1") as f:
    cp.read_file(f)
guid = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
plugin = "{ABD1218C-B335-4343-B578-00AA006BA2BA}"
errors = []
def want(section, key, check):
    if not cp.has_option(section, key):
        errors.append(f"[{section}] {key} missing")
        return
    value = cp.get(section, key)
    if not check(value):
        errors.append(f"[{section}] {key} = {value!r}")
want("vogaac2", "Path", lambda v: v.lower().endswith("\\plugins\\vogaac2.dll"))
want("vogaac2", "ModTime", lambda v: v.isdigit() and int(v) > 0)
want("vogaac2", plugin, lambda v: v == "VOG AAC 2 File Format")
sub = "vogaac2." + plugin
want(sub, "Access", lambda v: v == "48")
want(sub, "StreamType", lambda v: v == "1")
want(sub, "AppLevel", lambda v: int(v) == 0x00480048)
want(sub, "Flags", lambda v: v.lstrip("-").isdigit())
want(plugin, "Reader", lambda v: v == "{249F8688-FB9A-4FAE-9ED5-2EC66D1DD39C}")
# The renderer line is written once the renderer class gives its id.
if cp.has_option(plugin, "Renderer"):
    want(plugin, "Renderer", lambda v: guid.match(v) is not None)
want(plugin, "ExtReader", lambda v: "mp4" in v.lower())
want(plugin, "ModTime", lambda v: v == cp.get("vogaac2", "ModTime"))
want(plugin, "LangID", lambda v: v.isdigit() and int(v) > 0)
# The DLL without the class-object entry is cached as unusable: its path and
# time only, no plug-in.
want("noexport", "Path", lambda v: v.lower().endswith("\\noexport.dll"))
if any(guid.match(k) for k in cp.options("noexport")):
    errors.append("the unusable DLL has a plug-in line")
if errors:
    print("\n".join(errors))
    sys.exit(1)
print("plug-in cache as configparser reads it: ok")
PY
