#!/usr/bin/python3
"""Writes MP4 files with a Cardwell user box, built byte by byte.

make_cardwell.py texts OUT: moov holds the user box with an 'MTDT' item list
directly inside (the form exiftool decodes); the items' texts are printed as
"KEY=text" lines.
make_cardwell.py thumbs OUT: the user box holds 'MTSM' with 'MTHD', 'MTDT',
'MDST' and a sample description of two PNG entries (160x120 and 96x64); the
sample data box after it holds three real PNG images (two 160x120, one
96x64); the expected pictures are printed as "TYPE WxH MD5" lines.
"""
import hashlib
import struct
import sys
import uuid
import zlib

USER = uuid.UUID('55534D54-21D2-4FCE-BB88-695CFAC9C740').bytes
SAMPLES = uuid.UUID('4D545344-21D2-4FCE-BB88-695CFAC9C740').bytes


def box(t, p):
    return struct.pack('>I', 8 + len(p)) + t + p


def full(t, p):
    return box(t, b'\0\0\0\0' + p)


def uuid_box(g, p):
    return struct.pack('>I', 24 + len(p)) + b'uuid' + g + p


def item(key, text, encoding=1):
    data = text.encode('utf-16-be')
    return struct.pack('>HIHH', 10 + len(data), key, 0x15C7, encoding) + data


def png(w, h, seed):
    rows = b''.join(b'\0' + bytes(((x * 3 + y * 5 + seed) & 255) for x in range(w * 3)) for y in range(h))
    def chunk(t, d):
        return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xFFFFFFFF)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))


def png_entry(w, h):
    return box(b'PNG ', b'\0' * 6 + struct.pack('>HHH', 1, 0, 0) + b'\0' * 12 + struct.pack('>HHIIIH', w, h, 0x480000, 0x480000, 0, 1) +
               b'\0' * 32 + struct.pack('>Hh', 24, -1))


FTYP = box(b'ftyp', b'mp42\0\0\0\0mp42isom')
MOOV_HEADER = full(b'mvhd', b'\0' * 96)
TEXTS = [(1, 'Title \u00e9t\u00e9'), (2, 'Subtitle'), (3, '2024:05:06 07:08:09'), (4, 'Firmware 1.02'),
         (5, 'Camera X'), (6, 'Subject'), (7, 'A comment'), (8, 'key words'), (0x0A02, 'chapter 1')]


def texts(out):
    # Key 9 has no summary id; an item of encoding 0 is not UTF-16 text.
    items = [item(k, t) for k, t in TEXTS] + [item(9, 'not kept'), item(0x0A03, 'latin', encoding=0)]
    mtdt = box(b'MTDT', struct.pack('>H', len(items)) + b''.join(items))
    open(out, 'wb').write(FTYP + box(b'moov', MOOV_HEADER + uuid_box(USER, mtdt)))
    for k, t in TEXTS:
        print('%d=%s' % (k, t))


def thumbs(out):
    images = [png(160, 120, 1), png(96, 64, 2), png(160, 120, 3)]
    table, offset = [], 24
    for index, image in zip([1, 2, 1], images):
        table.append(struct.pack('>III', index, offset, len(image)) + b'\0' * 8)
        offset += len(image)
    # An entry of a description index that does not exist is passed over.
    table.insert(1, struct.pack('>III', 5, 24, 8) + b'\0' * 8)
    mtsm = box(b'MTSM', full(b'MTHD', struct.pack('>5I', 1, 0, 0, 0, 0)) +
               box(b'MTDT', struct.pack('>H', 1) + item(1, 'Clip')) +
               full(b'MDST', struct.pack('>I', len(table)) + b''.join(table)) +
               full(b'stsd', struct.pack('>I', 2) + png_entry(160, 120) + png_entry(96, 64)))
    data = FTYP + box(b'moov', MOOV_HEADER) + uuid_box(USER, mtsm) + uuid_box(SAMPLES, b''.join(images))
    open(out, 'wb').write(data)
    for n, (image, size) in enumerate(zip(images, ['160x120', '96x64', '160x120'])):
        print('%d %s %s' % (0xFF00 + n, size, hashlib.md5(image).hexdigest()))


{'texts': texts, 'thumbs': thumbs}[sys.argv[1]](sys.argv[2])
