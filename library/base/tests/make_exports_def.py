#!/usr/bin/python3
"""Writes the .def lines of the public functions of library headers: __stdcall
(KVAPI) functions MSVC-style as "_Name@N = Name@N" (N = argument bytes, 8 for
64-bit arguments), variadic __cdecl functions by their plain name.

Usage: make_exports_def.py HEADER... > fragment.def
Declarations after the "Library-internal" marker of a header are not exports.
"""
import re
import sys

STDCALL = re.compile(r'\bKVAPI\s+(\w+)\s*\(([^)]*)\)\s*;', re.S)
CDECL = re.compile(r'\b__cdecl\s+(\w+)\s*\(([^)]*)\)\s*;', re.S)
WIDE = re.compile(r'\b(LONGLONG|ULONGLONG|__int64|INT64|UINT64|int64_t|uint64_t|double|DWORDLONG)\b')


def arg_bytes(args):
    args = args.strip()
    if args in ('', 'void'):
        return 0
    total = 0
    for a in args.split(','):
        total += 8 if WIDE.search(a) and '*' not in a and '&' not in a else 4
    return total


def main():
    lines = []
    for header in sys.argv[1:]:
        text = open(header, encoding='utf-8').read().split('Library-internal')[0]
        text = re.sub(r'//[^\n]*', '', text)
        for name, args in STDCALL.findall(text):
            n = arg_bytes(args)
            lines.append('  _%s@%d = %s@%d' % (name, n, name, n))
        for name, args in CDECL.findall(text):
            if '(' in name:
                continue
            lines.append('  %s' % name)
    print('\n'.join(sorted(set(lines), key=lambda l: l.strip().lstrip('_').lower())))


if __name__ == '__main__':
    main()
