#!/usr/bin/python3
"""Dumps the string tables of PE modules, read independently with pefile.

Usage: dump_string_tables.py LABEL=PATH ...
Writes one line per non-empty string: label, language id, string id and the
UTF-16 code units of the text in hex, tab-separated.
"""
import struct
import sys

import pefile

RT_STRING = 6


def string_tables(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
    if not hasattr(pe, 'DIRECTORY_ENTRY_RESOURCE'):
        return
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != RT_STRING:
            continue
        for block in type_entry.directory.entries:
            for lang in block.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                pos = 0
                for index in range(16):
                    if pos + 2 > len(data):
                        break
                    (length,) = struct.unpack_from('<H', data, pos)
                    pos += 2
                    units = struct.unpack_from('<%dH' % length, data, pos)
                    pos += 2 * length
                    if length:
                        yield lang.id, (block.id - 1) * 16 + index, units


def main():
    for arg in sys.argv[1:]:
        label, path = arg.split('=', 1)
        for lang, sid, units in string_tables(path):
            print('%s\t%d\t%d\t%s' % (label, lang, sid, ''.join('%04x' % u for u in units)))


if __name__ == '__main__':
    main()
