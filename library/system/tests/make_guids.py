#!/usr/bin/python3
"""Fixture: a table of GUIDs as Python's uuid module reads them, one per line:
text, Data1, Data2, Data3 (hex) and the 16 bytes of the GUID in memory
(bytes_le, hex)."""
import random
import sys
import uuid

rng = random.Random(20261210)
guids = [uuid.UUID(int=0), uuid.UUID(int=(1 << 128) - 1), uuid.UUID('6B29FC40-CA47-1067-B31D-00DD010662DA'),
         uuid.UUID('abd1218c-b335-4343-b578-00aa006ba2ba'), uuid.UUID('00000001-0000-0000-c000-000000000046')]
guids += [uuid.UUID(int=rng.getrandbits(128)) for _ in range(200)]
with open(sys.argv[1], 'w') as out:
    for g in guids:
        d1, d2, d3 = g.fields[0], g.fields[1], g.fields[2]
        out.write('%s %08x %04x %04x %s\n' % (str(g), d1, d2, d3, g.bytes_le.hex()))
