#!/usr/bin/env python3
"""Checks the tree's dependencies against the table of allowed ones.

Every folder of product code belongs to one area (the longest area path that
holds it). An edge A -> B exists when a file of A includes a header that lives
only in B, or when a CMake target defined in A links a target defined in B.
The check fails on any edge between two areas that the table does not allow,
and on a cycle in the table itself. Test, fuzz and benchmark code is not
product code: it may use what it tests and the shared test support, so only
its includes of other tests' code are not checked here.

Usage: check_deps.py SOURCE_DIR [--print]
"""
import os
import re
import sys

SKIP_DIRS = {"build", ".git", "__pycache__"}
TEST_DIRS = {"tests", "tests_ui", "fuzz", "bench"}
SOURCE_EXT = (".c", ".cc", ".cpp", ".h", ".hpp", ".inl", ".rc")


def read_table(path):
    allowed = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if ":" not in line:
                sys.exit(f"{path}:{number}: expected 'area: uses...'")
            area, uses = line.split(":", 1)
            allowed[area.strip()] = set(uses.split())
    for area, uses in allowed.items():
        for used in uses:
            if used not in allowed:
                sys.exit(f"{path}: {area} uses {used}, which is not an area of the table")
    return allowed


def table_cycle(allowed):
    """A cycle in the table, as a list of areas, or None."""
    state = {}
    stack = []

    def visit(area):
        state[area] = 1
        stack.append(area)
        for used in sorted(allowed[area]):
            if state.get(used) == 1:
                return stack[stack.index(used):] + [used]
            if used not in state:
                found = visit(used)
                if found:
                    return found
        stack.pop()
        state[area] = 2
        return None

    for area in sorted(allowed):
        if area not in state:
            found = visit(area)
            if found:
                return found
    return None


def area_of(rel, areas):
    best = None
    for area in areas:
        if rel == area or rel.startswith(area + "/"):
            if best is None or len(area) > len(best):
                best = area
    return best


def is_test_path(rel):
    return any(part in TEST_DIRS for part in rel.split("/")[:-1])


def walk(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not d.startswith("."))
        for name in sorted(files):
            yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    root = os.path.abspath(sys.argv[1])
    show = "--print" in sys.argv[2:]
    allowed = read_table(os.path.join(root, "cmake", "dependencies.txt"))
    areas = list(allowed)
    failures = []

    cycle = table_cycle(allowed)
    if cycle:
        failures.append("the table has a cycle: " + " -> ".join(cycle))

    files = [rel for rel in walk(root)]
    # Headers by name, product code only, with the areas that hold them.
    headers = {}
    for rel in files:
        if rel.endswith((".h", ".hpp", ".inl")) and not is_test_path(rel):
            area = area_of(rel, areas)
            if area:
                headers.setdefault(os.path.basename(rel), set()).add(area)

    edges = {}

    def add(src, dst, why):
        if src and dst and src != dst:
            edges.setdefault((src, dst), why)

    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
    for rel in files:
        if not rel.endswith(SOURCE_EXT) or is_test_path(rel):
            continue
        area = area_of(rel, areas)
        if area is None:
            if rel.split("/")[0] not in ("tests", "scripts", "cmake", "resources"):
                failures.append(f"{rel}: in no area of the table")
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for name in include.findall(text):
            base = os.path.basename(name)
            # A header next to the including file, or of its own area, is its own.
            if os.path.exists(os.path.join(root, os.path.dirname(rel), name)):
                target = area_of(os.path.normpath(os.path.join(os.path.dirname(rel), name)).replace(os.sep, "/"), areas)
                add(area, target, f"{rel} includes {name}")
                continue
            owners = headers.get(base, set())
            if area in owners or not owners:
                continue
            if len(owners) > 1:
                failures.append(f"{rel}: {name} is defined in several areas ({', '.join(sorted(owners))})")
                continue
            add(area, next(iter(owners)), f"{rel} includes {name}")

    # Link edges: a target belongs to the area of the CMake file that adds it.
    target_area = {}
    links = []
    add_target = re.compile(r"\badd_(?:library|executable)\(\s*([A-Za-z0-9_.+-]+)")
    link = re.compile(r"\btarget_link_libraries\(\s*([A-Za-z0-9_.+-]+)([^)]*)\)", re.S)
    for rel in files:
        if not (rel.endswith("CMakeLists.txt") or rel.endswith(".cmake")) or is_test_path(rel):
            continue
        area = area_of(rel, areas)
        with open(os.path.join(root, rel), encoding="utf-8") as f:
            text = re.sub(r"#[^\n]*", "", f.read())
        for name in add_target.findall(text):
            target_area.setdefault(name, area)
        for name, rest in link.findall(text):
            for used in rest.split():
                if used not in ("PUBLIC", "PRIVATE", "INTERFACE"):
                    links.append((rel, name, used))
    test_targets = re.compile(r"_(tests?|fuzz|bench|oracles?)$")
    for rel, name, used in links:
        if test_targets.search(name):
            continue
        src, dst = target_area.get(name), target_area.get(used)
        add(src, dst, f"{rel}: {name} links {used}")

    for (src, dst), why in sorted(edges.items()):
        if show:
            print(f"{src} -> {dst}    ({why})")
        if dst not in allowed.get(src, set()):
            failures.append(f"{src} -> {dst} is not allowed ({why})")

    for failure in failures:
        print("check_deps:", failure)
    if failures:
        return 1
    print(f"check_deps: {len(edges)} edges between {len(areas)} areas, all allowed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
