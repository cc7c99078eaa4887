#!/usr/bin/python3
"""The exported names of the library's public functions, read from its
headers: __stdcall (KVAPI) functions MSVC-style as _Name@N (N = argument
bytes: 8 for a 64-bit integer or double passed by value, else 4), variadic
__cdecl functions by their plain name. Declarations after a header's
"Library-internal" marker are not exports.

Usage:
  kvexports.py def HEADER... > fragment.def
      writes the .def lines ("_Name@N = Name@N", or the plain name)
  kvexports.py check DLL [--def FILE]... [--at-least N] HEADER...
      checks with pefile that the DLL exports every name of the headers (and
      the left-hand names of the given .def fragments); fails when any is
      missing or fewer than N (default 1) names are wanted. A 64-bit DLL has
      one calling convention and exports the plain names (_Name@N is Name).
"""
import re
import sys

STDCALL = re.compile(r'\bKVAPI\s+(\w+)\s*\(([^)]*)\)\s*;', re.S)
CDECL = re.compile(r'\b__cdecl\s+(\w+)\s*\(([^)]*)\)\s*;', re.S)
WIDE = re.compile(r'\b(LONGLONG|ULONGLONG|__int64|INT64|UINT64|LONG64|int64_t|uint64_t|double|DWORDLONG)\b')


def arg_bytes(args):
    args = args.strip()
    if args in ('', 'void'):
        return 0
    return sum(8 if WIDE.search(a) and '*' not in a and '&' not in a else 4 for a in args.split(','))


def declarations(header):
    """(name, argument bytes or None for __cdecl) of the header's exports."""
    text = open(header, encoding='utf-8').read().split('Library-internal')[0]
    text = re.sub(r'//[^\n]*', '', text)
    for name, args in STDCALL.findall(text):
        yield name, arg_bytes(args)
    for name, _ in CDECL.findall(text):
        yield name, None


def exported_names(headers):
    return [name if n is None else '_%s@%d' % (name, n) for h in headers for name, n in declarations(h)]


def write_def(headers):
    lines = {'  %s' % name if n is None else '  _%s@%d = %s@%d' % (name, n, name, n)
             for h in headers for name, n in declarations(h)}
    print('\n'.join(sorted(lines, key=lambda l: l.strip().lstrip('_').lower())))
    return 0


def name_on_x64(name):
    """The export name a 64-bit build gives a 32-bit export name. The record form
    of KvGetDialogSize shares its plain name with the resource form and keeps its
    size suffix there."""
    if name == '_KvGetDialogSize@12':
        return name[1:]
    m = re.match(r'(_Z\w+)@\d+$', name) or re.match(r'_(\w+)@\d+$', name)
    return m.group(1) if m else name


def check(args):
    import pefile

    dll, headers, defs, at_least = args[0], [], [], 1
    rest = iter(args[1:])
    for a in rest:
        if a == '--def':
            defs.append(next(rest))
        elif a == '--at-least':
            at_least = int(next(rest))
        else:
            headers.append(a)
    pe = pefile.PE(dll, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_EXPORT']])
    exported = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name}
    wanted = exported_names(headers)
    for d in defs:
        wanted += [line.split()[0] for line in open(d) if line.strip()]
    if pe.FILE_HEADER.Machine == 0x8664:
        wanted = [name_on_x64(n) for n in wanted]
    missing = [n for n in wanted if n not in exported]
    print('%d names wanted, %d exported, %d missing' % (len(wanted), len(wanted) - len(missing), len(missing)))
    for n in missing:
        print('missing export:', n)
    return 1 if missing or len(wanted) < at_least else 0


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == 'def':
        return write_def(sys.argv[2:])
    if len(sys.argv) >= 3 and sys.argv[1] == 'check':
        return check(sys.argv[2:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main())
