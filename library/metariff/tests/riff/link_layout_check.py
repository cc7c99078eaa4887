"""Walks the files the project-link tests wrote, with Python's struct only:
chunk order and padding, RIFF sizes, the stored version, texts and the
project-data list."""
import os
import struct
import sys
import uuid

w = sys.argv[1]
errors = []


def check(cond, msg):
    if not cond:
        errors.append(msg)


def riff_chunks(data):
    out = []
    check(data[:4] == b'RIFF', 'no RIFF header')
    check(struct.unpack('<I', data[4:8])[0] == len(data) - 8, 'RIFF size is not the file length - 8')
    p = 12
    while p + 8 <= len(data):
        cid, size = struct.unpack('<4sI', data[p:p + 8])
        out.append((cid.decode('latin-1'), data[p + 8:p + 8 + size]))
        if size & 1:
            check(data[p + 8 + size:p + 9 + size] == b'\0', 'pad byte of %s is not zero' % cid)
        p += 8 + size + (size & 1)
    check(p == len(data), 'chunks do not end at the end of the file')
    return out


W64 = {
    'E4E76B7B-339F-4820-8AA9-6915A722024E': 'splv', '830AC81C-4C96-4F91-9975-C707E1736EC7': 'splp',
    'CBE52EDB-C5D2-44BC-B5DC-EF55E946F073': 'spcl', '9F4A912F-9D66-426E-A781-F9E7E01524FE': 'sprg',
    'B5EDD3A2-0673-4466-8446-CA87DD80A487': 'srtn', '7834233F-573A-475E-8F02-568D131BE2DF': 'srtd',
    '29C90B65-D288-4F92-814F-1C67593A6860': 'srat', 'FCD163D0-D709-4568-9110-831D2C9455F2': 'spca',
    '738F13D9-B70F-4309-988E-48425326F669': 'spcc', '6D0BE4ED-C296-4596-9343-25EC043754ED': 'spem',
    '20746D66-ACF3-11D3-8CD1-00C04F8EDB8A': 'fmt ', '61746164-ACF3-11D3-8CD1-00C04F8EDB8A': 'data',
}


def w64_chunks(data):
    out = []
    check(uuid.UUID(bytes_le=data[:16]) == uuid.UUID('66666972-912E-11CF-A5D6-28DB04C10000'), 'no riff GUID')
    check(struct.unpack('<Q', data[16:24])[0] == len(data), 'riff size is not the file length')
    p = 40
    while p + 24 <= len(data):
        g = str(uuid.UUID(bytes_le=data[p:p + 16])).upper()
        size = struct.unpack('<Q', data[p + 16:p + 24])[0]
        check(size >= 24, 'chunk size below its header')
        end = p + ((size + 7) & ~7)
        check(data[p + size:end] == b'\0' * (end - p - size), 'padding of %s is not zero' % g)
        out.append((W64.get(g, g), data[p + 24:p + size]))
        p = end
    check(p == len(data), 'chunks do not end at the end of the file')
    return out


def text(b):
    check(len(b) % 2 == 0 and b[-2:] == b'\0\0', 'text without its terminator')
    return b[:-2].decode('utf-16-le')


def spel(b):
    check(b[:4] == b'LIST' and b[8:12] == b'spel', 'project data is not a "spel" list')
    size = struct.unpack('<I', b[4:8])[0]
    check(size + 8 == len(b), 'list size %d does not fit its %d bytes' % (size, len(b)))
    items, p = [], 12
    while p + 8 <= len(b):
        cid, n = struct.unpack('<4sI', b[p:p + 8])
        items.append((cid.decode(), b[p + 8:p + 8 + n]))
        p += 8 + n + (n & 1)
    check(p == len(b), 'items do not end at the end of the list')
    return items


FULL = ['splp', 'spcl', 'sprg', 'srtn', 'srtd', 'srat', 'spca', 'spcc', 'spem', 'splv']
for name, walker in (('link_saved.wav', riff_chunks), ('info_link.wav', riff_chunks), ('link_saved.w64', w64_chunks)):
    path = os.path.join(w, name)
    if not os.path.exists(path):
        errors.append('%s missing' % name)
        continue
    chunks = walker(open(path, 'rb').read())
    ids = [c[0] for c in chunks]
    link = [i for i in ids if i in FULL]
    check(link == FULL, '%s: project-link chunks %r' % (name, link))
    check(ids[-len(FULL):] == FULL, '%s: the link does not follow the audio: %r' % (name, ids))
    check('data' in ids and 'fmt ' in ids, '%s: audio chunks lost: %r' % (name, ids))
    c = dict(chunks)
    check(c.get('splv') == b'\x00\x01\x00\x01', '%s: version %r' % (name, c.get('splv')))
    check(text(c['splp']) == 'C:\\Projects\\Night Train.prj', '%s: project path' % name)
    check(text(c['spcl']) == '"C:\\Program Files\\Host\\host.exe" /open', '%s: command line' % name)
    check(text(c['srtn']) == 'AAC 256 kbps', '%s: template name' % name)
    check(c['sprg'] == uuid.UUID('A1B2C3D4-1111-2222-3344-556677889900').bytes_le, '%s: renderer GUID' % name)
    check(c['srtd'] == bytes([9, 8, 7, 6, 5, 4, 3]) and c['srat'] == b'app!', '%s: template data' % name)
    check(text(c['spca']) == 'Host 12.0' and text(c['spcc']) == 'HostMainFrame', '%s: creator' % name)
    check(spel(c['spem']) == [('trk1', b'first track'), ('trk2', b'second')], '%s: project data' % name)
    if name == 'info_link.wav':
        check(ids.count('LIST') == 1, 'info_link.wav: the INFO list was lost')

for name, walker in (('link_minimal.wav', riff_chunks), ('link_minimal.w64', w64_chunks)):
    ids = [c[0] for c in walker(open(os.path.join(w, name), 'rb').read())]
    check(ids == ['fmt ', 'data', 'splp', 'spcl', 'splv'], '%s: %r' % (name, ids))

pd = open(os.path.join(w, 'projectdata.spel'), 'rb').read()
check(spel(pd) == [('aaaa', b'xyz'), ('bbbb', b'0123456789')], 'projectdata.spel items')
check(pd[12 + 8 + 3:12 + 8 + 4] == b'\0', 'projectdata.spel: odd item not padded with zero')

for e in errors:
    print('FAIL:', e)
sys.exit(1 if errors else 0)
