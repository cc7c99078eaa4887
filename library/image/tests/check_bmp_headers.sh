#!/usr/bin/env bash
# Bitmap headers against independent BMP readers and writers:
# - headers built by KvVideo_InitBitmapInfo (wrapped as .bmp by the tool) are
#   read by Pillow with the right size, depth, palette and pixels;
# - BMP files written by ffmpeg and Pillow are classified by KvGetPixelType,
#   with the row stride and pixel offset the files really have.
set -euo pipefail
dir="$VOG_FIXTURE_DIR/image/bmp"
rm -rf "$dir"
mkdir -p "$dir"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
py=/usr/bin/python3
require_tool py:PIL ffmpeg
run() { run_build_tool kvimage_bmptool "$@"; }

run write "$dir"
# Pillow reads our files: mode, size, bit depth, palette length, pixels.
$py - "$dir" <<'PY'
import struct, sys
from PIL import Image
d = sys.argv[1]
# name: (Pillow mode, bits, palette entries in the header, channel tolerance)
cases = {
    "bw1": ("P", 1, 2, 0), "pal4": ("P", 4, 16, 0), "pal8": ("P", 8, 256, 0),
    "pal8_nopal": ("P", 8, 255, 0), "rgb555": ("RGB", 16, 0, 8), "rgb565": ("RGB", 16, 0, 8),
    "rgb24": ("RGB", 24, 0, 0), "rgb32": ("RGB", 32, 0, 0),
}
fail = 0
for name, (mode, bits, clr, tol) in cases.items():
    path = f"{d}/ours_{name}.bmp"
    raw = open(path, "rb").read()
    off = struct.unpack("<I", raw[10:14])[0]
    hsize, w, h, planes, bpp, comp, simg = struct.unpack("<IiiHHII", raw[14:38])
    clrused = struct.unpack("<I", raw[46:50])[0]
    im = Image.open(path)
    got = im.convert("RGB").tobytes()
    want = open(f"{d}/ours_{name}.rgb", "rb").read()
    err = max(abs(a - b) for a, b in zip(got, want)) if len(got) == len(want) else 999
    # Pillow 9 opens 1-bit BMPs with a palette as mode "1" or "P"; both are fine.
    mode_ok = im.mode == mode or (bits == 1 and im.mode in ("1", "P"))
    pal = len(im.getpalette()) // 3 if im.mode == "P" and im.getpalette() else 0
    stride = (w * bpp + 31) // 32 * 4
    ok = (mode_ok and im.size == (13, 5) and bpp == bits and clrused == clr and err <= tol
          and simg == stride * h and len(raw) == off + stride * h
          and (clr == 0 or pal >= clr))
    print(("ok  " if ok else "FAIL") + f" {name}: mode {im.mode} size {im.size} bits {bpp} "
          f"clrused {clrused} palette {pal} offset {off} sizeimage {simg} max channel error {err}")
    fail |= not ok
sys.exit(fail)
PY

# Other writers' files, classified by the library.
fail=0
for f in bgra:28 bgr24:27 rgb565le:26 rgb555le:25 rgb444le:0 pal8:24 gray:24 monob:16 rgb8:24; do
  fmt=${f%%:*}; want=${f##*:}
  ffmpeg -v error -y -f lavfi -i testsrc2=size=22x6 -frames:v 1 -pix_fmt "$fmt" "$dir/ff_$fmt.bmp"
done
$py - "$dir" <<'PY'
import sys
from PIL import Image
d = sys.argv[1]
Image.new("1", (19, 3), 1).save(f"{d}/pil_1.bmp")
Image.new("L", (7, 4), 9).save(f"{d}/pil_L.bmp")
Image.new("P", (9, 3), 2).save(f"{d}/pil_P.bmp")
Image.new("RGB", (5, 5), (1, 2, 3)).save(f"{d}/pil_RGB.bmp")
Image.new("RGBA", (3, 2), (1, 2, 3, 4)).save(f"{d}/pil_RGBA.bmp")
PY
expect_file() {  # file, code
  local file="$1" code="$2"
  local got want
  got=$(run classify "$file")
  # Stride and pixel offset as the file has them: offset from the file header,
  # stride from the pixel bytes that follow it.
  want=$($py - "$file" "$code" <<'PY'
import struct, sys
raw = open(sys.argv[1], "rb").read()
off = struct.unpack("<I", raw[10:14])[0]
h = abs(struct.unpack("<i", raw[22:26])[0])
stride = (len(raw) - off) // h
code = int(sys.argv[2])
print(f"code={code} stride={stride} offset={off} compressed={1 if code == 0 else 0}")
PY
)
  if [ "$got" = "$want" ]; then echo "ok   $(basename "$file"): $got"; else echo "FAIL $(basename "$file"): got '$got', want '$want'"; fail=1; fi
}
for f in bgra:28 bgr24:27 rgb565le:26 rgb555le:25 pal8:24 gray:24 monob:16 rgb8:24; do
  expect_file "$dir/ff_${f%%:*}.bmp" "${f##*:}"
done
# 4-4-4 bit fields are no pixel type of the library; only its code is checked.
got=$(run classify "$dir/ff_rgb444le.bmp" | cut -d' ' -f1)
if [ "$got" = "code=0" ]; then echo "ok   ff_rgb444le.bmp: $got"; else echo "FAIL ff_rgb444le.bmp: $got"; fail=1; fi
for f in 1:16 L:24 P:24 RGB:27; do
  expect_file "$dir/pil_${f%%:*}.bmp" "${f##*:}"
done
# Pillow writes RGBA as 32-bit BI_RGB or BI_BITFIELDS 8-8-8: code 28 either way.
got=$(run classify "$dir/pil_RGBA.bmp" | cut -d' ' -f1)
if [ "$got" = "code=28" ]; then echo "ok   pil_RGBA.bmp: $got"; else echo "FAIL pil_RGBA.bmp: $got"; fail=1; fi
exit $fail
