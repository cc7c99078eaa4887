#!/usr/bin/python3
"""Extracts the AudioSpecificConfig and the access units of the first audio
track of an MP4 file, for the decoder tests.

Usage: extract_au.py IN.mp4 OUT_PREFIX [asc-hex]
Writes OUT_PREFIX.asc (the esds decoder-specific bytes, or the given hex
bytes) and OUT_PREFIX.au (each unit as a 4-byte big-endian length and its
bytes).
"""
import struct
import sys

import mp4walk  # tests/support, on PYTHONPATH


def boxes(data, start, end):
    for kind, body, stop in mp4walk.boxes(data, start, end):
        yield kind.decode('latin-1'), body, stop


find = mp4walk.find


def descriptor(data, pos):
    tag = data[pos]
    pos += 1
    size = 0
    for _ in range(4):
        b = data[pos]
        pos += 1
        size = (size << 7) | (b & 0x7F)
        if not b & 0x80:
            break
    return tag, pos, size


def asc_of(data, s, e):
    # mp4a sample entry: 28 bytes, then child boxes (esds).
    es = find(data, s + 28, e, ['esds'])
    pos = es[0] + 4
    tag, pos, size = descriptor(data, pos)          # ES_Descriptor
    flags = data[pos + 2]
    pos += 3
    if flags & 0x80:
        pos += 2
    if flags & 0x40:
        pos += 1 + data[pos]
    if flags & 0x20:
        pos += 2
    tag, pos, size = descriptor(data, pos)          # DecoderConfigDescriptor
    pos += 13
    tag, pos, size = descriptor(data, pos)          # DecoderSpecificInfo
    return data[pos:pos + size]


def main():
    data = open(sys.argv[1], 'rb').read()
    moov = find(data, 0, len(data), ['moov'])
    # Units are taken only from the bytes of an mdat box.
    mdats = [(s, e) for kind, s, e in boxes(data, 0, len(data)) if kind == 'mdat']
    for kind, s, e in boxes(data, moov[0], moov[1]):
        if kind != 'trak':
            continue
        hdlr = find(data, s, e, ['mdia', 'hdlr'])
        if data[hdlr[0] + 8:hdlr[0] + 12] != b'soun':
            continue
        stbl = find(data, s, e, ['mdia', 'minf', 'stbl'])
        stsd = find(data, stbl[0], stbl[1], ['stsd'])
        entry = next(boxes(data, stsd[0] + 8, stsd[1]))
        asc = asc_of(data, entry[1], entry[2])
        sz = find(data, stbl[0], stbl[1], ['stsz'])
        fixed, count = struct.unpack('>II', data[sz[0] + 4:sz[0] + 12])
        sizes = [fixed] * count if fixed else list(struct.unpack('>%dI' % count, data[sz[0] + 12:sz[0] + 12 + 4 * count]))
        co = find(data, stbl[0], stbl[1], ['stco'])
        if co:
            n = struct.unpack('>I', data[co[0] + 4:co[0] + 8])[0]
            offsets = list(struct.unpack('>%dI' % n, data[co[0] + 8:co[0] + 8 + 4 * n]))
        else:
            co = find(data, stbl[0], stbl[1], ['co64'])
            n = struct.unpack('>I', data[co[0] + 4:co[0] + 8])[0]
            offsets = list(struct.unpack('>%dQ' % n, data[co[0] + 8:co[0] + 8 + 8 * n]))
        sc = find(data, stbl[0], stbl[1], ['stsc'])
        n = struct.unpack('>I', data[sc[0] + 4:sc[0] + 8])[0]
        runs = [struct.unpack('>III', data[sc[0] + 8 + 12 * i:sc[0] + 20 + 12 * i]) for i in range(n)]
        units = []
        sample = 0
        for ci, off in enumerate(offsets):
            per = 0
            for first, spc, _ in runs:
                if ci + 1 >= first:
                    per = spc
            for _ in range(per):
                if sample >= len(sizes):
                    break
                if not any(s <= off and off + sizes[sample] <= e for s, e in mdats):
                    sample = len(sizes)
                    break
                units.append(data[off:off + sizes[sample]])
                off += sizes[sample]
                sample += 1
        if len(sys.argv) > 3:
            asc = bytes.fromhex(sys.argv[3])
        open(sys.argv[2] + '.asc', 'wb').write(asc)
        with open(sys.argv[2] + '.au', 'wb') as f:
            for u in units:
                f.write(struct.pack('>I', len(u)) + u)
        return
    sys.exit('no audio track')


main()
