#!/usr/bin/env bash
# Reference tables of the image tests, made at test time by independent code:
# Python's colorsys for HSL, numpy for the BT.709 transfer curve and for the
# legal-colour limits.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg py:PIL py:numpy py:scipy
out="$1/image"
mkdir -p "$out"
/usr/bin/python3 - "$out" <<'PY'
import colorsys, sys
import numpy as np
out = sys.argv[1]

# RGB (floats on a 17-step grid) -> colorsys (h, l, s).
with open(out + "/hsl_rgb.txt", "w") as f:
    for r in range(17):
        for g in range(17):
            for b in range(17):
                R, G, B = r / 16, g / 16, b / 16
                h, l, s = colorsys.rgb_to_hls(R, G, B)
                f.write("%.17g %.17g %.17g %.17g %.17g %.17g\n" % (R, G, B, h, l, s))

# Byte pixels -> colorsys of byte / 255.
vals = [0, 1, 37, 64, 127, 128, 200, 254, 255]
with open(out + "/hsl_bytes.txt", "w") as f:
    for r in vals:
        for g in vals:
            for b in vals:
                h, l, s = colorsys.rgb_to_hls(r / 255, g / 255, b / 255)
                f.write("%d %d %d %.17g %.17g %.17g\n" % (r, g, b, h, l, s))

# (h, l, s) grid -> colorsys RGB.
with open(out + "/hls_rgb.txt", "w") as f:
    for hi in range(25):
        for li in range(17):
            for si in range(9):
                h, l, s = hi / 24, li / 16, si / 8
                r, g, b = colorsys.hls_to_rgb(h, l, s)
                f.write("%.17g %.17g %.17g %.17g %.17g %.17g\n" % (h, l, s, r, g, b))

# BT.709 transfer as published (0.018, 4.5, 1.099, 0.099, 0.45) and its inverse.
x = np.linspace(0.0, 1.0, 1001)
oetf = np.where(x >= 0.018, 1.099 * np.power(x, 0.45) - 0.099, 4.5 * x)
inv = np.where(x >= 0.081, np.power((x + 0.099) / 1.099, 1 / 0.45), x / 4.5)
np.savetxt(out + "/gamma709.txt", np.column_stack([x, oetf, inv]), fmt="%.17g")

# Legal-colour limits in double precision: encode with the BT.709 curve,
# transform with the published matrix rows, margin = (K - Y)^2 - (C1^2 + C2^2);
# a negative margin is an illegal colour.
rgb2yuv = np.array([[0.114, 0.587, 0.299], [0.436798, -0.289391, -0.147407], [-0.099978, -0.514799, 0.614777]])
rgb2yiq = np.array([[0.114, 0.587, 0.299], [-0.321746, -0.274133, 0.595879], [0.311878, -0.523083, 0.211205]])
rng = np.random.default_rng(12)
bgr = rng.uniform(0, 1, (4000, 3)).astype(np.float32)
bgr[:8] = [[0, 1, 1], [1, 1, 1], [0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [1, 1, 0]]
e = np.where(bgr >= 0.018, 1.099 * np.power(bgr.astype(np.float64), 0.45) - 0.099, 4.5 * bgr)
cols = []
for m, k in ((rgb2yiq, 1.2162162), (rgb2yuv, 1.2162162), (rgb2yuv, 1.2)):
    yc = e @ m.T
    cols.append((k - yc[:, 0]) ** 2 - (yc[:, 1] ** 2 + yc[:, 2] ** 2))
np.savetxt(out + "/hot.txt", np.column_stack([bgr.astype(np.float64)] + cols), fmt="%.17g")
PY

# BMP files of other writers with random pixels, and their pixels as Pillow
# decodes them (top-down RGB bytes): Pillow for 1-bit, palette, 24 and 32-bit
# files; ffmpeg for 5-5-5 and 5-6-5 files made from the 24-bit one.
if /usr/bin/python3 -c "import PIL" 2>/dev/null; then
  /usr/bin/python3 - "$out" <<'PY'
import sys
import numpy as np
from PIL import Image
out = sys.argv[1]
rng = np.random.default_rng(5)
w, h = 21, 7
Image.fromarray(rng.integers(0, 2, (h, w), dtype=np.uint8) * 255).convert("1").save(out + "/x_1.bmp")
p = Image.fromarray(rng.integers(0, 256, (h, w), dtype=np.uint8), "P")
p.putpalette(list(rng.integers(0, 256, 768, dtype=np.uint8)))
p.save(out + "/x_P.bmp")
Image.fromarray(rng.integers(0, 256, (h, w, 3), dtype=np.uint8), "RGB").save(out + "/x_RGB.bmp")
Image.fromarray(rng.integers(0, 256, (h, w, 4), dtype=np.uint8), "RGBA").save(out + "/x_RGBA.bmp")
PY
  for f in rgb565le rgb555le; do
    ffmpeg -v error -y -i "$out/x_RGB.bmp" -pix_fmt "$f" "$out/x_$f.bmp"
  done
  /usr/bin/python3 - "$out" <<'PY'
import sys
from PIL import Image
out = sys.argv[1]
for n in ("1", "P", "RGB", "RGBA", "rgb565le", "rgb555le"):
    im = Image.open(f"{out}/x_{n}.bmp")
    open(f"{out}/x_{n}.rgb", "wb").write(im.convert("RGB").tobytes())
    if im.mode == "RGBA":
        open(f"{out}/x_{n}.alpha", "wb").write(im.getchannel("A").tobytes())
PY
fi

# The compositing operations, modelled from their table in plain Python
# integers: random destination, source and operation fields per operation,
# 16 and 8 bits, and the three forms of operation 3 at 8 bits.
/usr/bin/python3 - "$out" <<'PY'
import math, random, sys
out = sys.argv[1]
rnd = random.Random(99)

def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q

def model(bits, variant, op, D, S, key, tol, opac, level, lut):
    mx = (1 << bits) - 1
    one = mx + 1
    blend = lambda d, s, o: (d + (((s - d) * o) >> bits)) & mx   # floor blend
    keyed = lambda p: abs(p[2] - key[2]) + abs(p[1] - key[1]) + abs(p[0] - key[0]) <= tol
    D = list(D)
    if op in (0, 9, 10):
        return list(S)
    if op == 1:
        if bits == 16:
            return [blend(D[i], S[i], S[3]) for i in range(4)]
        return [D[i] + trunc_div((S[i] - D[i]) * S[3], 256) for i in range(4)]
    if op == 2:
        return [(D[i] * (one - S[3]) + S[i]) >> bits for i in range(4)]
    if op == 3:
        if bits == 16 or variant == 2:
            return [blend(D[i], S[i], opac) for i in range(4)]
        if variant == 1:
            return [D[i] + trunc_div((S[i] - D[i]) * opac, 256) for i in range(4)]
        o = opac >> 4
        return [(D[i] >> 4) * (15 - o) + (S[i] >> 4) * o for i in range(4)]
    if op == 4:
        return D if keyed(S) else list(S)
    if op == 5:
        return D if keyed(S) else [blend(D[i], S[i], opac) for i in range(4)]
    if op == 6:
        if keyed(S):
            m = max(S[0], S[1], S[2]) + 1
            return [blend(D[i], (D[i] * m // mx) % one, level) for i in range(3)] + [D[3]]
        return [blend(D[i], S[i], opac) for i in range(4)]
    if op == 7:
        if keyed(S):
            return D
        mS = max(S[:3]) + 1
        mD = max(D[:3]) + 1
        return [blend(S[i], (mD * D[i] // mS) % one, level) for i in range(3)] + [D[3]]
    if op == 8:
        return [abs(D[i] - S[i]) for i in range(4)]
    if op == 11:
        return [blend(S[i], key[i], opac) for i in range(3)] + [D[3]]
    if op == 12:
        return [blend(D[i], mx - S[i], opac) for i in range(4)]
    if op == 13:
        g = (S[0] + S[1] + S[2]) // 3
        return [blend(D[i], g, opac) for i in range(3)] + [blend(D[3], S[3], opac)]
    if op == 14:
        r = []
        for i in range(3):
            v = D[i] + trunc_div((key[i] - D[i]) * S[3], one) + (S[i] - key[i])
            r.append(min(max(v, 0), mx))
        return r + [D[3]]
    if op == 15:
        v = int(math.sqrt((D[2] - key[2]) ** 2 + (D[1] - key[1]) ** 2 + (D[0] - key[0]) ** 2) / math.sqrt(3)) % one
        if lut: v = mx - v
        return [v, v, v, D[3]]
    if op == 17:
        m = (D[0] + D[1] + D[2]) / 3.0
        if m < level: v = 0
        elif m > level + tol: v = mx
        else: v = int((m - level) * mx / tol)
        if lut: v = mx - v
        return [v, v, v, D[3]]
    if op == 19:
        return [(D[i] + ((S[i] * opac) >> bits)) & mx for i in range(4)]
    return D  # 16, 18

with open(out + "/ops.txt", "w") as f:
    for bits in (16, 8):
        mx = (1 << bits) - 1
        for variant in (0, 1, 2):
            for op in range(20):
                for n in range(60):
                    key = [rnd.randint(0, mx) for _ in range(3)]
                    tol = rnd.randint(1, 3 * mx // 4)
                    D = [rnd.randint(0, mx) for _ in range(4)]
                    if n % 2:
                        S = [min(max(key[i] + rnd.randint(-tol // 3, tol // 3), 0), mx) for i in range(3)] + [rnd.randint(0, mx)]
                    else:
                        S = [rnd.randint(0, mx) for _ in range(4)]
                    if n % 7 == 0:
                        S[3] = mx
                    opac, level = rnd.randint(0, mx), rnd.randint(0, mx)
                    lut = n % 3 == 0
                    r = model(bits, variant, op, D, S, key, tol, opac, level, lut)
                    f.write(" ".join(str(v) for v in [bits, variant, op] + D + S + key + [tol, opac, level, int(lut)] + r) + "\n")
PY

# Packed 4:2:2 against ffmpeg: random UYVY frames decoded to BGRA (BT.601
# and BT.709, studio-range input, nearest chroma); RGB frames whose pixel
# pairs share a colour encoded to UYVY; 10-bit 4:2:2 frames packed to v210.
yuv="$out/yuv"
mkdir -p "$yuv"
/usr/bin/python3 - "$yuv" <<'PY'
import sys
import numpy as np
d = sys.argv[1]
rng = np.random.default_rng(11)
w, h = 64, 16
f = np.zeros((h, w * 2), np.uint8)
f[:, 1::2] = rng.integers(16, 236, (h, w))        # Y
f[:, 0::4] = rng.integers(16, 241, (h, w // 2))   # U
f[:, 2::4] = rng.integers(16, 241, (h, w // 2))   # V
f.tofile(d + "/in.uyvy")
rgb = rng.integers(0, 256, (h, w // 2, 3), dtype=np.uint8).repeat(2, axis=1)
rgb.tofile(d + "/in.rgb24")
for W in (96, 1280):
    # v210 writers keep samples within 4..1019 (0-3 and 1020-1023 are reserved).
    p = rng.integers(4, 1020, (4, W), dtype=np.uint16)
    c = rng.integers(4, 1020, (2, 4, W // 2), dtype=np.uint16)
    np.concatenate([p.ravel(), c.ravel()]).astype("<u2").tofile(f"{d}/in{W}.yuv422p10le")
PY
for m in bt601 bt709; do
  ffmpeg -v error -y -f rawvideo -pix_fmt uyvy422 -s 64x16 -i "$yuv/in.uyvy" \
    -vf "scale=in_color_matrix=$m:in_range=tv:flags=neighbor+full_chroma_int+accurate_rnd" \
    -pix_fmt bgra -f rawvideo "$yuv/uyvy_$m.bgra"
  ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 64x16 -i "$yuv/in.rgb24" \
    -vf "scale=out_color_matrix=$m:in_range=pc:out_range=tv:flags=accurate_rnd+full_chroma_int+bitexact" \
    -pix_fmt uyvy422 -f rawvideo "$yuv/rgb_$m.uyvy"
done
for W in 96 1280; do
  ffmpeg -v error -y -f rawvideo -pix_fmt yuv422p10le -s ${W}x4 -i "$yuv/in$W.yuv422p10le" \
    -c:v v210 -f rawvideo "$yuv/in$W.v210"
done

# Scaling references: scipy's corner-aligned linear zoom (the end-point
# mapping of the enlarging path) and numpy block means (area averaging).
scale="$out/scale"
mkdir -p "$scale"
/usr/bin/python3 - "$scale" <<'PY'
import sys
import numpy as np
from scipy import ndimage
d = sys.argv[1]
rng = np.random.default_rng(21)
src = rng.integers(0, 256, (9, 13, 4)).astype(np.uint8)
src.tofile(d + "/src_13x9.bgra")
def zoom(a, shape):
    z = (shape[0] / a.shape[0], shape[1] / a.shape[1], 1)
    return ndimage.zoom(a.astype(np.float64), z, order=1, grid_mode=False, mode="nearest")
# Enlarging on both axes, and a reduction done by interpolation.
zoom(src, (29, 40)).tofile(d + "/zoom_40x29.f64")
zoom(src, (5, 7)).tofile(d + "/zoom_7x5.f64")
srcf = rng.uniform(0, 1, (9, 13, 4)).astype(np.float32)
srcf.tofile(d + "/src_13x9.f32")
zoom(srcf, (29, 40)).tofile(d + "/zoomf_40x29.f64")
# Integer reductions: block means of 48 x 36 by 4 and by 3, and by 4
# vertically only (width kept: interpolation at the same positions).
big = rng.integers(0, 256, (36, 48, 4)).astype(np.uint8)
big.tofile(d + "/src_48x36.bgra")
for n in (3, 4):
    big.reshape(36 // n, n, 48 // n, n, 4).mean(axis=(1, 3)).tofile(f"{d}/mean{n}.f64")
big.reshape(9, 4, 48, 4).mean(axis=1).tofile(d + "/meanv4.f64")
PY

# Bicubic references: Pillow's bicubic resize (Keys cubic, a = -0.5, centre
# aligned) of a smooth image, as 8-bit RGB and as float planes.
if /usr/bin/python3 -c "import PIL" 2>/dev/null; then
  /usr/bin/python3 - "$scale" <<'PY'
import sys
import numpy as np
from PIL import Image
d = sys.argv[1]
h, w = 14, 20
y, x = np.mgrid[0:h, 0:w]
planes = [125 + 80 * np.sin(x / 3.1 + k) * np.cos(y / 2.3 - k) for k in range(3)]
rgb = np.clip(np.stack(planes, axis=2), 0, 255).round().astype(np.uint8)
rgb.tofile(d + "/cubic_src_20x14.rgb")
Image.fromarray(rgb, "RGB").resize((47, 33), Image.BICUBIC).tobytes()
open(d + "/cubic_47x33.rgb", "wb").write(Image.fromarray(rgb, "RGB").resize((47, 33), Image.BICUBIC).tobytes())
f = (rgb.astype(np.float32) / 255.0)
f.tofile(d + "/cubic_src_20x14.f32rgb")
out = np.stack([np.asarray(Image.fromarray(f[:, :, k], "F").resize((47, 33), Image.BICUBIC)) for k in range(3)], axis=2)
out.astype(np.float32).tofile(d + "/cubic_47x33.f32rgb")
PY
fi

# Planar 4:2:0 and 4:2:2 frames (64 x 36) decoded by ffmpeg to BGRA (BT.601,
# studio-range input, nearest chroma).
/usr/bin/python3 - "$yuv" <<'PY'
import sys
import numpy as np
d = sys.argv[1]
rng = np.random.default_rng(31)
w, h = 64, 36
# Luma and chroma ranges that keep every pixel inside the RGB cube (ffmpeg
# clips its full-range output; the reductions compare means).
y = rng.integers(50, 181, (h, w), dtype=np.uint8)
for name, ch in (("420", h // 2), ("422", h)):
    u = rng.integers(112, 145, (ch, w // 2), dtype=np.uint8)
    v = rng.integers(112, 145, (ch, w // 2), dtype=np.uint8)
    np.concatenate([y.ravel(), u.ravel(), v.ravel()]).tofile(f"{d}/in{name}.yuv")
PY
for f in 420 422; do
  ffmpeg -v error -y -f rawvideo -pix_fmt yuv${f}p -s 64x36 -i "$yuv/in$f.yuv" \
    -vf "scale=in_color_matrix=bt601:in_range=tv:flags=neighbor+full_chroma_int+accurate_rnd" \
    -pix_fmt bgra -f rawvideo "$yuv/in$f.bgra"
done
# Float output of the same decodings (planar G, B, R floats, full range).
ffmpeg -v error -y -f rawvideo -pix_fmt uyvy422 -s 64x16 -i "$yuv/in.uyvy" \
  -vf "scale=in_color_matrix=bt601:in_range=tv:flags=neighbor+full_chroma_int+accurate_rnd" \
  -pix_fmt gbrpf32le -f rawvideo "$yuv/uyvy_bt601.gbrpf32"
ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 64x36 -i "$yuv/in420.yuv" \
  -vf "scale=in_color_matrix=bt601:in_range=tv:flags=neighbor+full_chroma_int+accurate_rnd" \
  -pix_fmt gbrpf32le -f rawvideo "$yuv/in420.gbrpf32"
# RGB frames of one colour per pair of rows encoded by ffmpeg to 4:2:0 (whole
# rows, and nearest sampling, so that the chroma siting does not matter).
/usr/bin/python3 - "$yuv" <<'PY'
import sys
import numpy as np
d = sys.argv[1]
rng = np.random.default_rng(41)
rgb = rng.integers(0, 256, (8, 1, 3), dtype=np.uint8).repeat(2, axis=0).repeat(64, axis=1)
rgb.tofile(d + "/block.rgb24")
PY
ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 64x16 -i "$yuv/block.rgb24" \
  -vf "scale=out_color_matrix=bt601:in_range=pc:out_range=tv:flags=neighbor+accurate_rnd+full_chroma_int+bitexact" \
  -pix_fmt yuv420p -f rawvideo "$yuv/block.yuv420p"
