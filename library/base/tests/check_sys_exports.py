#!/usr/bin/python3
"""Checks that vogaac2.dll exports every public function of the system
services' headers under its decorated name (64-bit arguments count 8 bytes),
the variadic ones by plain name, the UI services and the CLog members, read
with pefile."""
import os
import sys

import pefile

sys.path.insert(0, os.path.dirname(__file__))
import make_exports_def  # noqa: E402


def main():
    dll, src = sys.argv[1], sys.argv[2]
    pe = pefile.PE(dll, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_EXPORT']])
    exported = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name}
    base = os.path.join(src, 'library', 'base')
    headers = [os.path.join(base, h) for h in
               ('kverror.h', 'kvmsgbox.h', 'kvreg.h', 'kvmetric.h', 'kvpath.h', 'kvres.h', 'kvhelp.h')]
    headers.append(os.path.join(src, 'library', 'ui', 'kvui.h'))
    wanted = []
    for h in headers:
        text = open(h, encoding='utf-8').read().split('Library-internal')[0]
        text = make_exports_def.re.sub(r'//[^\n]*', '', text)
        for name, args in make_exports_def.STDCALL.findall(text):
            wanted.append('_%s@%d' % (name, make_exports_def.arg_bytes(args)))
        for name, _ in make_exports_def.CDECL.findall(text):
            wanted.append(name)
    for line in open(os.path.join(base, 'kvlog_exports.def')):
        wanted.append(line.split()[0])
    missing = [n for n in wanted if n not in exported]
    print('%d names wanted, %d missing' % (len(wanted), len(missing)))
    for n in missing:
        print('missing export:', n)
    return 1 if missing or len(wanted) < 150 else 0


if __name__ == '__main__':
    sys.exit(main())
