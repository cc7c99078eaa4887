#!/usr/bin/python3
"""Seeds of the metadata fuzz targets, written byte by byte.

Usage: make_seeds.py FUZZ_DIR

corpus-id3: ID3v2.3 and 2.4 tags with every frame kind the reader decodes
(text in each encoding, TXXX, COMM, APIC, UFID, GEOB, an unknown frame), and
the forms other programs write: an extended header, unsynchronisation of the
whole tag (2.3) or of frames (2.4), data length indicators, compressed,
encrypted and grouped frames, a frame running past the tag, padding.
corpus-cardwell: the Cardwell reader's test files (texts; thumbnails with
small images). corpus-tags: both sets (the tag target reads each input as a
tag and as an MP4 file).
"""
import os
import struct
import subprocess
import sys
import zlib


def syncsafe(n):
    return ((n & 0x7F) | ((n << 1) & 0x7F00) | ((n << 2) & 0x7F0000) | ((n << 3) & 0x7F000000))


def frame(version, fid, payload, flags=0):
    size = syncsafe(len(payload)) if version == 4 else len(payload)
    return fid + struct.pack('>IH', size, flags) + payload


def tag(version, frames, flags=0, extended=b'', padding=0):
    body = extended + b''.join(frames) + b'\0' * padding
    return b'ID3' + bytes([version, 0, flags]) + struct.pack('>I', syncsafe(len(body))) + body


def unsync(data):
    out = bytearray()
    for i, b in enumerate(data):
        out.append(b)
        if b == 0xFF and (i + 1 == len(data) or data[i + 1] >= 0xE0 or data[i + 1] == 0):
            out.append(0)
    return bytes(out)


def texts(version):
    return [
        frame(version, b'TIT2', b'\x00Title'),
        frame(version, b'TPE1', b'\x01\xff\xfeA\x00r\x00t\x00'),
        frame(version, b'TALB', b'\x02\x00A\x00l'),
        frame(version, b'TCON', b'\x00(17)Rock'),
        frame(version, b'TRCK', b'\x003/12'),
        frame(version, b'TXXX', b'\x00MusicBrainz Album Id\x00abc'),
        frame(version, b'COMM', b'\x00engshort\x00long comment'),
        frame(version, b'UFID', b'http://musicbrainz.org\x00id-1234'),
        frame(version, b'APIC', b'\x00image/png\x00\x03cover\x00' + b'\x89PNG\r\n\x1a\n' + b'\xff' * 8),
        frame(version, b'GEOB', b'\x00text/plain\x00a.txt\x00desc\x00hello'),
        frame(version, b'ZZZZ', b'unknown'),
    ]


def id3_seeds():
    s = {}
    for v in (3, 4):
        s['plain-%d' % v] = tag(v, texts(v), padding=16)
    s['utf8-4'] = tag(4, [frame(4, b'TIT2', b'\x03T\xc3\xa9tu\x00second\x00')])
    s['extended-3'] = tag(3, texts(3), 0x40, struct.pack('>IHI', 6, 0, 0))
    s['extended-4'] = tag(4, texts(4), 0x40, struct.pack('>I', syncsafe(6)) + b'\x01\x00')
    body3 = b''.join(texts(3)) + frame(3, b'TIT3', b'\x00\xff\xe0\xff\x00')
    s['unsync-3'] = b'ID3\x03\x00\x80' + struct.pack('>I', syncsafe(len(unsync(body3)))) + unsync(body3)
    p = b'\x00\xff\xe1 text \xff'
    s['unsync-frame-4'] = tag(4, [frame(4, b'TIT2', unsync(p), 0x0002), frame(4, b'TPE1', b'\x00x')])
    s['unsync-tag-4'] = tag(4, [frame(4, b'TIT2', unsync(p))], 0x80)
    s['length-indicator-4'] = tag(4, [frame(4, b'TIT2', struct.pack('>I', syncsafe(len(p))) + p, 0x0001)])
    z = zlib.compress(b'\x00Compressed title')
    s['compressed-3'] = tag(3, [frame(3, b'TIT2', struct.pack('>I', 17) + z, 0x0080)])
    s['compressed-4'] = tag(4, [frame(4, b'TIT2', struct.pack('>I', syncsafe(17)) + z, 0x0009)])
    s['encrypted-3'] = tag(3, [frame(3, b'TIT2', b'\x80secret', 0x0040), frame(3, b'ENCR', b'me\x00\x80')])
    s['grouped-4'] = tag(4, [frame(4, b'TIT2', b'\x05\x00grouped', 0x0040), frame(4, b'GRID', b'me\x00\x05')])
    long = frame(3, b'TIT2', b'\x00short')
    s['past-end-3'] = tag(3, [long[:4] + struct.pack('>I', 1000) + long[8:]])
    s['zero-size-4'] = tag(4, [frame(4, b'TIT2', b''), frame(4, b'TPE1', b'\x00x')])
    s['footer-4'] = tag(4, texts(4)[:2], 0x10) + b'3DI\x04\x00\x10\x00\x00\x00\x00'
    return s


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else here
    dirs = {k: os.path.join(out, 'corpus-' + k) for k in ('id3', 'cardwell', 'tags')}
    for d in dirs.values():
        os.makedirs(d, exist_ok=True)
    for name, data in id3_seeds().items():
        for k in ('id3', 'tags'):
            open(os.path.join(dirs[k], name), 'wb').write(data)
    maker = os.path.join(here, '..', 'tests', 'cardwell', 'make_cardwell.py')
    for kind in ('texts', 'thumbs'):
        for k in ('cardwell', 'tags'):
            subprocess.run(['/usr/bin/python3', maker, kind, os.path.join(dirs[k], 'cardwell-' + kind)],
                           check=True, stdout=subprocess.DEVNULL)


main()
