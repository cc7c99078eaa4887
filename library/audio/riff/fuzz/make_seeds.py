#!/usr/bin/python3
"""Seeds of the RIFF-family fuzz targets, written byte by byte.

Usage: make_seeds.py [FUZZ_DIR]

corpus-walk: WAVE files with format, INFO list, JUNK, display-list and data
chunks (odd sizes padded), a nested list, a CD track file. corpus-wave64:
Wave64 files with format, JUNK, LIST and data chunks and display-list items.
corpus-aiff: AIFF and AIFC files with COMM, SSND, MARK and INST chunks.
corpus-displist: WAVE files with text and bitmap items (BITMAPINFOHEADER and
BITMAPCOREHEADER DIBs). corpus-wavrepair: an options byte, then wave files
with the damage the repair is for (zeroed or cut headers, wrong sizes, a lost
data chunk).
"""
import os
import struct
import sys
import uuid


def chunk(cid, body):
    return cid + struct.pack('<I', len(body)) + body + (b'\0' if len(body) & 1 else b'')


def riff(form, chunks):
    body = form + b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body)) + body


def fmt(channels=2, rate=44100, bits=16, tag=1, extra=b''):
    align = channels * bits // 8
    body = struct.pack('<HHIIHH', tag, channels, rate, rate * align, align, bits)
    if extra is not None:
        body += struct.pack('<H', len(extra)) + extra
    return body


def info(items):
    return chunk(b'LIST', b'INFO' + b''.join(chunk(k, v + b'\0') for k, v in items))


def dib_info(w=2, h=2, bits=24):
    stride = ((w * bits + 31) // 32) * 4
    return struct.pack('<IiiHHIIiiII', 40, w, h, 1, bits, 0, stride * h, 0, 0, 0, 0) + b'\x7f' * (stride * h)


def dib_core(w=2, h=2):
    return struct.pack('<IHHHH', 12, w, h, 1, 8) + b'\x10\x20\x30' * 256 + b'\x01' * (4 * h)


def disp(fmt_id, data):
    return chunk(b'DISP', struct.pack('<I', fmt_id) + data)


def guid(text):
    return uuid.UUID(text).bytes_le


W64_RIFF = guid('66666972-912E-11CF-A5D6-28DB04C10000')
W64_LIST = guid('7473696C-912F-11CF-A5D6-28DB04C10000')
W64_WAVE = guid('65766177-ACF3-11D3-8CD1-00C04F8EDB8A')
W64_FMT = guid('20746D66-ACF3-11D3-8CD1-00C04F8EDB8A')
W64_DATA = guid('61746164-ACF3-11D3-8CD1-00C04F8EDB8A')
W64_JUNK = guid('6B6E756A-ACF3-11D3-8CD1-00C04F8EDB8A')
W64_DISP = guid('612CCA25-92BB-4C55-8408-7BDA2F15BD27')


def chunk64(g, body):
    return g + struct.pack('<Q', 24 + len(body)) + body + b'\0' * (-len(body) % 8)


def w64(chunks):
    body = W64_WAVE + b''.join(chunks)
    return W64_RIFF + struct.pack('<Q', 24 + len(body)) + body


def ieee_rate(rate):
    exp = 16383 + 31
    mant = rate
    while not mant & 0x80000000:
        mant <<= 1
        exp -= 1
    return struct.pack('>HII', exp, mant, 0)


def ichunk(cid, body):
    return cid + struct.pack('>I', len(body)) + body + (b'\0' if len(body) & 1 else b'')


def aiff(form, chunks):
    body = form + b''.join(chunks)
    return b'FORM' + struct.pack('>I', len(body)) + body


def comm(channels=2, frames=4, bits=16, rate=44100, compression=None):
    body = struct.pack('>HIH', channels, frames, bits) + ieee_rate(rate)
    if compression:
        body += compression + b'\x0anot really'
    return ichunk(b'COMM', body)


def mark(markers):
    body = struct.pack('>H', len(markers))
    for mid, pos, name in markers:
        p = struct.pack('>HIB', mid, pos, len(name)) + name
        body += p + (b'\0' if len(p) & 1 else b'')
    return ichunk(b'MARK', body)


PCM = b'\x01\x02' * 16


def seeds():
    s = {'walk': {}, 'wave64': {}, 'aiff': {}, 'displist': {}, 'wavrepair': {}}
    s['walk']['wave'] = riff(b'WAVE', [chunk(b'fmt ', fmt()), info([(b'INAM', b'Name'), (b'IART', b'Artist')]),
                                       chunk(b'JUNK', b'\0' * 7), chunk(b'data', PCM)])
    s['walk']['wave-16-fmt'] = riff(b'WAVE', [chunk(b'fmt ', fmt(extra=None)), chunk(b'data', PCM[:7])])
    s['walk']['nested-list'] = riff(b'WAVE', [chunk(b'LIST', b'adtl' + chunk(b'LIST', b'INFO' + chunk(b'INAM', b'x'))),
                                              info([(b'ICMT', b'c' * 33)]), chunk(b'data', b'')])
    s['walk']['cdda'] = riff(b'CDDA', [chunk(b'fmt ', struct.pack('<HHIIIBBBBBBBB', 1, 3, 0x1234, 150, 9000,
                                                                  0, 2, 0, 0, 0, 0, 2, 0))])
    s['walk']['sizes-past-end'] = riff(b'WAVE', [chunk(b'fmt ', fmt())])[:-4] + b'data\xff\xff\xff\x7f'
    s['wave64']['wave64'] = w64([chunk64(W64_FMT, fmt()), chunk64(W64_JUNK, b'\0' * 5), chunk64(W64_DATA, PCM)])
    s['wave64']['list'] = w64([chunk64(W64_FMT, fmt(extra=None)),
                              chunk64(W64_LIST, W64_WAVE + chunk64(W64_JUNK, b'ab') + chunk64(W64_DATA, b'cd')),
                              chunk64(W64_DISP, struct.pack('<I', 1) + b'text\0'), chunk64(W64_DATA, PCM)])
    s['aiff']['aiff'] = aiff(b'AIFF', [comm(), mark([(1, 0, b'start'), (2, 3, b'end!')]),
                                       ichunk(b'INST', b'\x3c\x00\x00\x7f\x00\x7f\x00\x00' + b'\0' * 12),
                                       ichunk(b'SSND', struct.pack('>II', 0, 0) + PCM)])
    s['aiff']['aifc'] = aiff(b'AIFC', [ichunk(b'FVER', struct.pack('>I', 0xA2805140)),
                                       comm(1, 8, 24, 48000, b'NONE'), ichunk(b'SSND', struct.pack('>II', 4, 0) + PCM)])
    s['aiff']['aifc-sowt'] = aiff(b'AIFC', [comm(2, 2, 16, 22050, b'sowt'), ichunk(b'SSND', b'\0' * 8 + PCM[:8])])
    s['displist']['text-and-dib'] = riff(b'WAVE', [chunk(b'fmt ', fmt()), disp(1, b'About this file\0'),
                                                   disp(8, dib_info()), chunk(b'data', PCM)])
    s['displist']['core-dib'] = riff(b'WAVE', [disp(8, dib_core()), disp(1, b'odd\0')])
    s['displist']['bitfields-dib'] = riff(b'WAVE', [disp(8, struct.pack('<IiiHHIIiiII', 40, 1, -1, 1, 16, 3, 4, 0, 0,
                                                                        0, 0) + struct.pack('<III', 0xF800, 0x7E0, 0x1F) + b'\0' * 4)])
    good = riff(b'WAVE', [chunk(b'fmt ', fmt(extra=None)), chunk(b'data', PCM * 4)])
    big = riff(b'WAVE', [chunk(b'fmt ', fmt()), chunk(b'JUNK', b'\0' * 200), chunk(b'data', PCM * 4)])
    s['wavrepair']['zero-sizes'] = b'\x02' + good[:4] + b'\0' * 4 + good[8:40] + b'\0' * 4 + good[44:]
    s['wavrepair']['zeroed-header'] = b'\x06' + b'\0' * 44 + PCM * 4
    s['wavrepair']['no-data-id'] = b'\x04' + big[:12] + b'\0' * 240 + PCM * 4
    s['wavrepair']['lost-data-walk'] = b'\x0e' + big[:40] + b'XXXX' + big[44:250] + b'data' + big[254:]
    s['wavrepair']['good-read'] = b'\x12' + good
    s['wavrepair']['aiff-read'] = b'\x10' + s['aiff']['aiff']
    g64 = w64([chunk64(W64_FMT, fmt(extra=None)), chunk64(W64_DATA, PCM * 4)])
    s['wavrepair']['w64-zero-sizes'] = b'\x03' + g64[:16] + b'\0' * 8 + g64[24:]
    s['wavrepair']['w64-zeroed'] = b'\x07' + b'\0' * 112 + PCM * 4
    s['wavrepair']['w64-read'] = b'\x13' + g64
    return s


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for kind, files in seeds().items():
        d = os.path.join(out, 'corpus-' + kind)
        os.makedirs(d, exist_ok=True)
        for name, data in files.items():
            open(os.path.join(d, name), 'wb').write(data)


main()
