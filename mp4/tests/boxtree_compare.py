#!/usr/bin/env python3
"""Compares a box tree dumped by mp4dump ("depth type offset size" lines) with
an independent walk of the same file, and optionally with AtomicParsley -T.

Both references are pruned to the boxes whose children the library reads with
the given factory: everything else is a leaf (payload kept unread).

usage: boxtree_compare.py DUMP MEDIA [--factory all|meta|metawrite] [--atomicparsley]
exit 0 when equal; 1 with a diff on stdout otherwise; 77 when AtomicParsley
cannot read the file (only with --atomicparsley).
"""
import re
import struct
import subprocess
import sys

ITEM_CONTAINERS = {b'covr', b'\xa9ART', b'aART', b'\xa9cmt', b'\xa9day', b'\xa9nam', b'\xa9alb', b'\xa9too',
                   b'\xa9gen', b'gnre', b'\xa9cpy', b'\xa9des', b'keyw', b'trkn', b'----'}
CARD_GUID = bytes.fromhex('55534d5421d24fcebb88695cfac9c740')
MAX_DEPTH = 64

# Payload bytes before the children, per container type and factory.
def child_start(kind, factory, in_ilst):
    common = {b'moov': 0, b'trak': 0, b'mdia': 0, b'minf': 0, b'stbl': 0, b'udta': 0, b'meta': 4, b'ilst': 0}
    if factory in ('all', 'meta'):
        common.update({b'stsd': 8, b'mp4a': 28, b'MTSM': 0})
    if factory == 'metawrite':
        for k in (b'stsd', b'mp4a'):
            common.pop(k, None)
    if in_ilst:
        return 0 if kind in ITEM_CONTAINERS else None
    return common.get(kind)


def walk(data, start, end, depth, factory, in_ilst, out):
    pos = start
    while pos < end:
        left = end - pos
        if left < 8:
            return
        size, kind = struct.unpack('>I4s', data[pos:pos + 8])
        header = 8
        if size == 1:
            if left < 16:
                return
            size = struct.unpack('>Q', data[pos + 8:pos + 16])[0]
            header = 16
        elif size == 0:
            if kind != b'mdat':
                return
            size = left
        extra = 16 if kind == b'uuid' else 4 if kind == b'data' else 0
        if size < header + extra or size > left:
            return
        out.append((depth, kind, pos, size))
        body = pos + header
        if depth + 1 < MAX_DEPTH + 1:
            if kind == b'uuid':
                if data[body:body + 16] == CARD_GUID and factory in ('all', 'meta'):
                    walk(data, body + 16, pos + size, depth + 1, factory, in_ilst, out)
            else:
                skip = child_start(kind, factory, in_ilst)
                if skip is not None and body + skip <= pos + size and depth < MAX_DEPTH:
                    walk(data, body + skip, pos + size, depth + 1, factory, in_ilst or kind == b'ilst', out)
        pos += size


def type_text(kind):
    if all(b in b'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -\xa9' for b in kind):
        return kind.decode('latin-1')
    return '#' + kind.hex()


def reference(path, factory):
    data = open(path, 'rb').read()
    out = []
    walk(data, 0, len(data), 0, factory, False, out)
    return ['%d %s %d %d' % (d, type_text(k), o, s) for d, k, o, s in out]


def atomicparsley(path, factory, ours_containers):
    r = subprocess.run(['AtomicParsley', path, '-T'], capture_output=True)
    text = r.stdout.decode('utf-8', 'replace').lstrip('\ufeff')
    rows = []
    for line in text.splitlines():
        m = re.match(r'^( *)Atom (.{4})(?: \[...\])? @ (\d+) of size: (\d+), ends @ (\d+)', line)
        if m:
            indent = len(m.group(1))
            depth = 0 if indent == 0 else (indent - 5) // 4 + 1
            rows.append((depth, m.group(2), int(m.group(3)), int(m.group(4))))
    if not rows:
        return None
    # Keep a box only when every ancestor is a box whose children the library reads.
    kept, stack = [], []
    for depth, kind, off, size in rows:
        stack = stack[:depth]
        if all(stack):
            kept.append('%d %s %d %d' % (depth, kind, off, size))
        stack.append((depth, kind, off, size) in ours_containers)
    return kept


def main():
    args = sys.argv[1:]
    use_ap = '--atomicparsley' in args
    factory = 'all'
    if '--factory' in args:
        factory = args[args.index('--factory') + 1]
    dump, media = args[0], args[1]
    ours = []
    for line in open(dump, encoding='utf-8'):
        if line.startswith('samples'):
            break
        ours.append(line.strip())
    ref = reference(media, factory)
    status = 0
    if ours != ref:
        print('tree differs from the independent walk: %s' % media)
        for a, b in zip(ours, ref):
            if a != b:
                print('  ours: %s\n  walk: %s' % (a, b))
                break
        print('  %d boxes ours, %d walk' % (len(ours), len(ref)))
        status = 1
    if use_ap:
        data = open(media, 'rb').read()
        walked = []
        walk(data, 0, len(data), 0, factory, False, walked)
        # The boxes whose children were walked (they have a child or are containers).
        containers = set()
        for i, (d, k, o, s) in enumerate(walked):
            if i + 1 < len(walked) and walked[i + 1][0] == d + 1:
                containers.add((d, k.decode('latin-1'), o, s))
        ap = atomicparsley(media, factory, containers)
        if ap is None:
            print('AtomicParsley cannot read %s' % media)
            return 77 if status == 0 else status
        if ours != ap:
            print('tree differs from AtomicParsley -T: %s' % media)
            for a, b in zip(ours, ap):
                if a != b:
                    print('  ours: %s\n  AP:   %s' % (a, b))
                    break
            print('  %d boxes ours, %d AtomicParsley' % (len(ours), len(ap)))
            status = 1
    return status


if __name__ == '__main__':
    sys.exit(main())
