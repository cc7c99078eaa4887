#!/usr/bin/python3
"""Checks that vogaac2.dll exports every public function of the text and
system headers: __stdcall ones MSVC-style as _Name@N (N from the declared
argument types: 8 bytes for 64-bit integers and doubles, else 4), the
variadic __cdecl ones by plain name. Reads the DLL with pefile.

Usage: check_text_exports.py DLL HEADER...
Declarations after a "Library-internal" marker of a header are not exports.
"""
import re
import sys

import pefile

STDCALL = re.compile(r'\bKVAPI\s+(\w+)\s*\(([^)]*)\)\s*;', re.S)
CDECL = re.compile(r'\b__cdecl\s+(\w+)\s*\(([^)]*)\)\s*;', re.S)
WIDE = re.compile(r'\b(LONGLONG|ULONGLONG|double|LONG64|INT64|UINT64)\b')


def arg_bytes(arg):
    arg = arg.strip()
    if arg in ('', 'void'):
        return 0
    if '*' in arg:
        return 4
    return 8 if WIDE.search(arg) else 4


def expected_exports(header):
    text = open(header, encoding='utf-8').read()
    text = text.split('Library-internal')[0]
    text = re.sub(r'//[^\n]*', '', text)
    for name, args in STDCALL.findall(text):
        yield '_%s@%d' % (name, sum(arg_bytes(a) for a in args.split(',')))
    for name, _ in CDECL.findall(text):
        yield name


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
