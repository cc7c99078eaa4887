#!/usr/bin/env bash
# BMP files for the display-list bitmap tests, written with Python's struct
# (24-bit, 8-bit with a 16-entry palette, 32-bit BI_BITFIELDS), each with the
# pixels it should show as rows of B, G, R bytes from the top ("*.bgr").
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg
out="$1/displist"
rm -rf "$out"
mkdir -p "$out"
/usr/bin/python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
W, H = 7, 5

def pixel(x, y):  # top-down coordinates
    return ((x * 37 + y * 11) & 0xFF, (x * 5 + y * 71) & 0xFF, (x * 113 + y * 3 + 40) & 0xFF)

def bmp(name, bits, rows, table=b"", compression=0, clr_used=0, masks=b""):
    header = struct.pack("<IiiHHIIiiII", 40, W, H, 1, bits, compression, len(rows), 2835, 2835, clr_used, 0)
    dib = header + masks + table + rows
    filehdr = b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 14 + 40 + len(masks) + len(table))
    open(f"{out}/{name}.bmp", "wb").write(filehdr + dib)

def stride(bits):
    return ((W * bits + 31) // 32) * 4

expect = b"".join(bytes(pixel(x, y)) for y in range(H) for x in range(W))
# 24-bit, bottom-up.
rows = b""
for y in reversed(range(H)):
    r = b"".join(bytes(pixel(x, y)) for x in range(W))
    rows += r + bytes(stride(24) - len(r))
bmp("dib24", 24, rows)
open(f"{out}/dib24.bgr", "wb").write(expect)
# 8-bit with 16 palette entries (biClrUsed 16): index = (x + 2y) % 16.
pal = [((i * 16) & 0xFF, (255 - i * 9) & 0xFF, (i * 40) & 0xFF) for i in range(16)]
table = b"".join(bytes(c) + b"\0" for c in pal)
rows = b""
for y in reversed(range(H)):
    r = bytes((x + 2 * y) % 16 for x in range(W))
    rows += r + bytes(stride(8) - len(r))
bmp("dib8", 8, rows, table=table, clr_used=16)
open(f"{out}/dib8.bgr", "wb").write(b"".join(bytes(pal[(x + 2 * y) % 16]) for y in range(H) for x in range(W)))
# 32-bit BI_BITFIELDS (masks R 0xFF0000, G 0xFF00, B 0xFF), bottom-up.
rows = b""
for y in reversed(range(H)):
    rows += b"".join(bytes(pixel(x, y)) + b"\0" for x in range(W))
bmp("dib32bf", 32, rows, compression=3, masks=struct.pack("<III", 0xFF0000, 0xFF00, 0xFF))
open(f"{out}/dib32bf.bgr", "wb").write(expect)
PY
# ffmpeg reads each BMP to the expected pixels: the expectations are not ours alone.
for f in dib24 dib8 dib32bf; do
  ffmpeg -v error -y -i "$out/$f.bmp" -f rawvideo -pix_fmt bgr24 - | cmp -s - "$out/$f.bgr" \
    || { echo "ffmpeg reads $f.bmp differently"; exit 1; }
done
# Media files that get display lists appended: a WAVE file and its Wave64 form
# (11,024 frames: data a multiple of 8 bytes, which ffmpeg reads back exactly).
mkdir -p "$out/written"
ffmpeg -v error -y -f lavfi -i "aevalsrc=0.4*sin(2*PI*500*t)|0.2*sin(2*PI*750*t):s=22050:d=0.5" \
  -af atrim=end_sample=11024 -c:a pcm_s16le -bitexact "$out/media.wav"
ffmpeg -v error -y -i "$out/media.wav" -f w64 "$out/media.w64"
