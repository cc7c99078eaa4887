#!/usr/bin/python3
"""Writes the UI tests' resource inputs into a folder: 16-colour bitmaps (one
with a 40-byte header, one with a 108-byte header, one of 8 bits), a
monochrome cursor, a binary blob, and the .rc script that names them.

Usage: make_test_resources.py OUTDIR
"""
import os
import struct
import sys

W, H = 8, 4
# Palette index of each pixel, top row first: every index 0-15 appears.
PIXELS = [[(r * W + c) % 16 for c in range(W)] for r in range(H)]
PALETTE = [(i * 16, 255 - i * 16, (i * 37) % 256) for i in range(16)]  # (r, g, b)
BLOB = bytes((i * 7 + 3) % 256 for i in range(300))


def dib4(header_size):
    rows = b''
    for row in reversed(PIXELS):  # bottom-up
        data = bytes((row[i] << 4) | row[i + 1] for i in range(0, W, 2))
        rows += data + b'\0' * (-len(data) % 4)
    header = struct.pack('<IiiHHIIiiII', header_size, W, H, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
    header += b'\0' * (header_size - 40)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + rows


def dib8():
    rows = b''
    for row in reversed(PIXELS):
        rows += bytes(row) + b'\0' * (-W % 4)
    header = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    palette = b''.join(struct.pack('BBBB', i, i, i, 0) for i in range(256))
    return header + palette + rows


def bmp_file(dib, palette_entries, header_size):
    offset = 14 + header_size + 4 * palette_entries
    return struct.pack('<2sIHHI', b'BM', 14 + len(dib), 0, 0, offset) + dib


def cursor():
    size = 32
    xor = b'\0' * (size * size // 8)
    andmask = b'\xff' * (size * size // 8)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 1, 0, len(xor) + len(andmask), 0, 0, 2, 0)
    image = header + struct.pack('BBBB', 0, 0, 0, 0) + struct.pack('BBBB', 255, 255, 255, 0) + xor + andmask
    entry = struct.pack('<BBBBHHII', size, size, 2, 0, 3, 4, len(image), 6 + 16)
    return struct.pack('<HHH', 0, 2, 1) + entry + image


# A string table and dialog resources that windres compiles.
DIALOGS = r"""
#include <windows.h>
STRINGTABLE
BEGIN
  500 "Table title"
  501 "Table text"
END
700 DIALOGEX 10, 20, 200, 100
STYLE DS_SETFONT | WS_POPUP | WS_CAPTION
EXSTYLE WS_EX_TOOLWINDOW
CAPTION "Resource dialog"
FONT 9, "Tahoma", 700, 1, 1
BEGIN
  CONTROL "Push", 11, "Button", BS_PUSHBUTTON | WS_TABSTOP, 5, 6, 50, 14, WS_EX_CLIENTEDGE, 77
  EDITTEXT 12, 5, 30, 80, 12, ES_AUTOHSCROLL
END
701 DIALOG 0, 0, 100, 50
STYLE DS_SETFONT | WS_POPUP
CAPTION "Plain"
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Label", 21, 2, 3, 40, 8
END
702 DIALOG 0, 0, 100, 50
STYLE DS_SETFONT | WS_POPUP
CAPTION "Plain nine"
FONT 9, "MS Sans Serif"
BEGIN
  LTEXT "Label", 21, 2, 3, 40, 8
END
"""


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        'ui16.bmp': bmp_file(dib4(40), 16, 40),
        'ui16v4.bmp': bmp_file(dib4(108), 16, 108),
        'ui256.bmp': bmp_file(dib8(), 256, 40),
        'ui.cur': cursor(),
        'blob.bin': BLOB,
    }
    for name, data in files.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
    path = lambda n: os.path.join(out, n).replace('\\', '/')
    with open(os.path.join(out, 'ui_test_resources.rc'), 'w') as f:
        f.write('LANGUAGE 9, 1\n')
        f.write('300 BITMAP "%s"\n' % path('ui16.bmp'))
        f.write('301 BITMAP "%s"\n' % path('ui16v4.bmp'))
        f.write('302 BITMAP "%s"\n' % path('ui256.bmp'))
        f.write('5 CURSOR "%s"\n' % path('ui.cur'))
        f.write('100 CURSOR "%s"\n' % path('ui.cur'))
        f.write('400 RCDATA "%s"\n' % path('blob.bin'))
        f.write(DIALOGS)
    return 0


if __name__ == '__main__':
    sys.exit(main())
