#!/usr/bin/env python3
"""Damaged variants of MP4 files for the read-road sweep.

    mutate.py OUT_DIR COUNT SOURCE...

Writes COUNT files into OUT_DIR, taken in turn from three kinds of damage
over every source (the same files for the same arguments):
  cut    the file cut at a box boundary (the start, the end of the header
         and the end of every box at every depth);
  size   one box's size field, or a table's entry count, set to a bound:
         0, 1, 7, 8, one less or more, twice, past the file, 0x7FFFFFFF,
         0xFFFFFFFF;
  flip   1 to 8 bytes XORed with random masks, most of them in the movie
         header box.
The box walk is this script's own, independent of our MP4 library.
"""
import os
import random
import struct
import sys


# Boxes whose payload holds boxes, with the bytes before the first child.
CONTAINERS = {b'moov': 0, b'trak': 0, b'mdia': 0, b'minf': 0, b'stbl': 0, b'udta': 0, b'edts': 0,
              b'dinf': 0, b'mvex': 0, b'moof': 0, b'traf': 0, b'ilst': 0, b'meta': 4, b'stsd': 8,
              b'mp4a': 28, b'dref': 8}
# Full boxes whose entry count follows the version and flags.
TABLES = {b'stts', b'stsc', b'stco', b'co64', b'stss', b'ctts', b'elst', b'stsd', b'dref', b'sbgp', b'sgpd'}


def walk(data, start, end, out, parent=None):
    """Appends (type, start, body, stop) of every box, depth first."""
    pos = start
    while pos + 8 <= end:
        size, kind = struct.unpack('>I4s', data[pos:pos + 8])
        header = 8
        if size == 1 and pos + 16 <= end:
            size = struct.unpack('>Q', data[pos + 8:pos + 16])[0]
            header = 16
        elif size == 0:
            size = end - pos
        if size < header or pos + size > end:
            return
        body, stop = pos + header, pos + size
        out.append((kind, pos, body, stop))
        if kind in CONTAINERS:
            walk(data, body + CONTAINERS[kind], stop, out, kind)
        elif parent == b'ilst':
            walk(data, body, stop, out, kind)
        pos = stop


def boxes_of(data):
    out = []
    walk(data, 0, len(data), out)
    return out


def cuts(data, boxes):
    points = set()
    for _, start, body, stop in boxes:
        points.update((start, start + 4, body, stop))
    return [('cut', p) for p in sorted(points) if 0 < p < len(data)]


def sizes(data, boxes):
    out = []
    for kind, start, body, stop in boxes:
        size = stop - start
        if body - start == 8:
            for v in (0, 1, 7, 8, size - 1, size + 1, size * 2, len(data) - start + 1, 0x7FFFFFFF, 0xFFFFFFFF):
                out.append(('size', start, v & 0xFFFFFFFF))
        if kind in TABLES or kind == b'stsz':
            at = body + (8 if kind == b'stsz' else 4)
            if at + 4 <= stop:
                count = struct.unpack('>I', data[at:at + 4])[0]
                for v in (0, 1, count + 1, 0x7FFFFFFF, 0xFFFFFFFF):
                    out.append(('count', at, v & 0xFFFFFFFF))
    return out


def apply(data, boxes, mutation, rng):
    kind = mutation[0]
    if kind == 'cut':
        return data[:mutation[1]]
    if kind in ('size', 'count'):
        out = bytearray(data)
        out[mutation[1]:mutation[1] + 4] = struct.pack('>I', mutation[2])
        return bytes(out)
    out = bytearray(data)
    moov = [b for b in boxes if b[0] == b'moov']
    for _ in range(rng.randint(1, 8)):
        if moov and rng.random() < 0.8:
            at = rng.randrange(moov[0][1], moov[0][3])
        else:
            at = rng.randrange(len(out))
        out[at] ^= rng.randint(1, 255)
    return bytes(out)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out_dir, count, sources = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    os.makedirs(out_dir, exist_ok=True)
    rng = random.Random(19)
    kinds = {'cut': [], 'size': [], 'flip': []}
    files = []
    for s in sorted(sources):
        data = open(s, 'rb').read()
        boxes = boxes_of(data)
        files.append((s, data, boxes))
        i = len(files) - 1
        kinds['cut'] += [(i, m) for m in cuts(data, boxes)]
        kinds['size'] += [(i, m) for m in sizes(data, boxes)]
        kinds['flip'] += [(i, ('flip', n)) for n in range(max(count, 1))]
    for k in kinds.values():
        rng.shuffle(k)
    made = 0
    while made < count and any(kinds.values()):
        for k in ('cut', 'size', 'flip'):
            if made >= count or not kinds[k]:
                continue
            i, m = kinds[k].pop()
            name, data, boxes = files[i]
            damaged = apply(data, boxes, m, rng)
            base = os.path.splitext(os.path.basename(name))[0]
            path = os.path.join(out_dir, '%04d-%s-%s-%s.m4a' % (made, base, k, '-'.join(str(x) for x in m[1:])))
            with open(path, 'wb') as f:
                f.write(damaged)
            made += 1
    print('made %d damaged files from %d sources' % (made, len(files)))


if __name__ == '__main__':
    main()
