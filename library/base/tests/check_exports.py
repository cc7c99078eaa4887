#!/usr/bin/python3
"""Checks that vogaac2.dll exports every public function of the base headers
under its MSVC-style __stdcall name (_Name@N, N = 4 bytes per argument on x86,
every argument of these functions being at most 32 bits), read with pefile.

Usage: check_exports.py DLL HEADER...
Declarations after the "Library-internal" marker of a header are not exports.
"""
import re
import sys

import pefile

DECL = re.compile(r'\bKVAPI\s+(\w+)\s*\(([^)]*)\)\s*;', re.S)


def expected_exports(header):
    text = open(header, encoding='utf-8').read()
    text = text.split('Library-internal')[0]
    text = re.sub(r'//[^\n]*', '', text)
    for name, args in DECL.findall(text):
        args = args.strip()
        count = 0 if args in ('', 'void') else args.count(',') + 1
        yield '_%s@%d' % (name, 4 * count)


def main():
    pe = pefile.PE(sys.argv[1], fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_EXPORT']])
    exported = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name}
    wanted = [n for h in sys.argv[2:] for n in expected_exports(h)]
    missing = [n for n in wanted if n not in exported]
    print('%d public functions, %d exported, %d missing' % (len(wanted), len(wanted) - len(missing), len(missing)))
    for n in missing:
        print('missing export:', n)
    return 1 if missing or not wanted else 0


if __name__ == '__main__':
    sys.exit(main())
