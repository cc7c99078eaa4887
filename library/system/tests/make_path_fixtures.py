#!/usr/bin/python3
"""Fixture for the path tests, in FIXTURE/paths:
- dos/: files with chosen modification times; dos.txt lists each file's DOS
  date/time as Python's zipfile packs it, for local time and for UTC;
- pe/: executables (the build's own DLL and test program, i686 or x86-64 as
  the build is, a minimal x86-64 image, one whose
  header lies beyond the first 4,096 bytes) and non-executables; pe.txt gives
  machine and characteristics as pefile reads them (or "-" for none);
- tree/: a folder tree of files of random sizes; tree.txt its total size."""
import os
import random
import shutil
import struct
import sys
import time
import zipfile

import pefile


def dos_value(tm):
    date = ((tm[0] - 1980) << 9) | (tm[1] << 5) | tm[2]
    tim = (tm[3] << 11) | (tm[4] << 5) | (tm[5] // 2)
    return (tim << 16) | date


def minimal_pe(machine, characteristics, pe_offset=0x40):
    """A headers-only PE image with a PE32+ optional header."""
    dos = bytearray(pe_offset)
    dos[0:2] = b'MZ'
    struct.pack_into('<I', dos, 60, pe_offset)
    opt = bytearray(0xF0)
    struct.pack_into('<H', opt, 0, 0x20B)          # PE32+
    struct.pack_into('<Q', opt, 24, 0x140000000)   # image base
    struct.pack_into('<II', opt, 32, 0x1000, 0x200)  # section / file alignment
    struct.pack_into('<HH', opt, 40, 6, 0)         # OS version
    struct.pack_into('<HH', opt, 48, 6, 0)         # subsystem version
    struct.pack_into('<II', opt, 56, 0x1000, 0x200)  # size of image / headers
    struct.pack_into('<H', opt, 68, 3)             # console subsystem
    struct.pack_into('<I', opt, 108, 16)           # number of data directories
    coff = struct.pack('<4sHHIIIHH', b'PE\0\0', machine, 0, 0x5F000000, 0, 0, len(opt), characteristics)
    image = bytes(dos) + coff + bytes(opt)
    return image + bytes((-len(image)) % 0x200)


def main():
    root = os.path.join(sys.argv[1], 'paths')
    bindir = sys.argv[2]
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, 'dos'))
    os.makedirs(os.path.join(root, 'pe'))
    # DOS date and time.
    stamps = [(1980, 1, 1, 0, 0, 0), (1999, 12, 31, 23, 59, 58), (2000, 2, 29, 12, 30, 45),
              (2024, 7, 4, 6, 7, 9), (2037, 11, 30, 18, 1, 1), (2010, 3, 28, 1, 30, 0)]
    with open(os.path.join(root, 'dos.txt'), 'w') as out:
        for i, st in enumerate(stamps):
            name = 'f%d.bin' % i
            path = os.path.join(root, 'dos', name)
            open(path, 'wb').write(b'x' * i)
            t = time.mktime(st + (0, 0, -1)) + 0.25
            os.utime(path, (t, t))
            local = zipfile.ZipInfo.from_file(path).date_time
            utc = time.gmtime(os.stat(path).st_mtime)[:6]
            out.write('%s %u %u\n' % (name, dos_value(local), dos_value(utc)))
    # Executables.
    pe_dir = os.path.join(root, 'pe')
    shutil.copy(os.path.join(bindir, 'vogaac2.dll'), os.path.join(pe_dir, 'build.dll'))
    shutil.copy(os.path.join(bindir, 'kvbasesys_path_tests.exe'), os.path.join(pe_dir, 'build.exe'))
    open(os.path.join(pe_dir, 'x86_64.exe'), 'wb').write(minimal_pe(0x8664, 0x22))
    open(os.path.join(pe_dir, 'x86_64_far.dll'), 'wb').write(minimal_pe(0x8664, 0x2022, pe_offset=0x1400))
    open(os.path.join(pe_dir, 'arm64.dll'), 'wb').write(minimal_pe(0xAA64, 0x2022))
    open(os.path.join(pe_dir, 'text.txt'), 'wb').write(b'MZ but only text, no header\n' * 3)
    bad = bytearray(minimal_pe(0x8664, 0x22))
    bad[0x40:0x42] = b'NE'
    open(os.path.join(pe_dir, 'ne.exe'), 'wb').write(bytes(bad))
    open(os.path.join(pe_dir, 'short.exe'), 'wb').write(b'MZ' + bytes(30))
    with open(os.path.join(root, 'pe.txt'), 'w') as out:
        for name in sorted(os.listdir(pe_dir)):
            try:
                pe = pefile.PE(os.path.join(pe_dir, name), fast_load=True)
                out.write('%s %u %u\n' % (name, pe.FILE_HEADER.Machine, pe.FILE_HEADER.Characteristics))
            except pefile.PEFormatError:
                out.write('%s - -\n' % name)
    # A folder tree and its size.
    rng = random.Random(7)
    total = 0
    for d in ['tree', 'tree/a', 'tree/a/b', 'tree/c', 'tree/empty']:
        os.makedirs(os.path.join(root, d), exist_ok=True)
    for d in ['tree', 'tree/a', 'tree/a/b', 'tree/c']:
        for k in range(rng.randint(1, 4)):
            n = rng.randint(0, 70000)
            open(os.path.join(root, d, 'f%d.dat' % k), 'wb').write(bytes(n))
    for dirpath, _, files in os.walk(os.path.join(root, 'tree')):
        total += sum(os.path.getsize(os.path.join(dirpath, f)) for f in files)
    open(os.path.join(root, 'tree.txt'), 'w').write('%d\n' % total)
    # The volume's space as Python sees it.
    usage = shutil.disk_usage(root)
    open(os.path.join(root, 'disk.txt'), 'w').write('%d %d\n' % (usage.free, usage.total))


if __name__ == '__main__':
    main()
