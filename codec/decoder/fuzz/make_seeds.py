#!/usr/bin/python3
"""Seeds for the decoder's libFuzzer target from HE-AAC vectors, so that it
reaches SBR and parametric stereo: one byte n, n configuration bytes, then
units as a 2-byte big-endian length and the unit bytes.

Usage: make_seeds.py OUT_DIR FILE.mp4 [FILE.mp4 ...]
Every file gives seeds of 8 consecutive units from its first 64; heaac.mp4
also gives its explicit AOT 29 (ed 8c 08 00) and implicit (15 88 00 00)
signalling variants.
"""
import os
import struct
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
extract = os.path.join(here, '..', 'tests', 'sbr', 'extract_au.py')
# extract_au.py walks the boxes with the tests' shared MP4 walker.
top = subprocess.run(['git', '-C', here, 'rev-parse', '--show-toplevel'], capture_output=True, text=True,
                     check=True).stdout.strip()
extract_env = dict(os.environ, PYTHONPATH=os.path.join(top, 'tests', 'support'))


def units_of(path, asc_hex=None):
    with tempfile.TemporaryDirectory() as tmp:
        args = ['/usr/bin/python3', extract, path, tmp + '/x'] + ([asc_hex] if asc_hex else [])
        subprocess.run(args, check=True, env=extract_env)
        asc = open(tmp + '/x.asc', 'rb').read()
        au = open(tmp + '/x.au', 'rb').read()
    units, p = [], 0
    while p + 4 <= len(au):
        n = struct.unpack('>I', au[p:p + 4])[0]
        units.append(au[p + 4:p + 4 + n])
        p += 4 + n
    return asc, units


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for path in sys.argv[2:]:
        name = os.path.splitext(os.path.basename(path))[0]
        variants = [(name, None)]
        if name == 'heaac':
            variants += [('heaac_aot29', 'ed8c0800'), ('heaac_implicit', '15880000')]
        for vname, asc_hex in variants:
            asc, units = units_of(path, asc_hex)
            for k in range(0, min(len(units), 64), 8):
                body = b''.join(struct.pack('>H', len(u)) + u for u in units[k:k + 8] if len(u) < 65536)
                with open(os.path.join(out, '%s_%02d' % (vname, k)), 'wb') as f:
                    f.write(bytes([len(asc)]) + asc + body)


main()
