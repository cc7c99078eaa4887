// Fuzzes the scalers and KvDibCopy with random bitmap sizes, rectangles (in
// pixels and in 18.14), pixel types and flags: every access must stay inside
// the two bitmaps.
#include <cstdint>
#include <cstring>
#include <vector>

#include "kvbicubic.h"
#include "kvdib.h"
#include "kvdibcopy.h"
#include "kvpixeltype.h"
#include "kvsubpixel.h"

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | (n ? (--n, *p++) : 0);
    return v;
  }
  int32_t Range(int32_t lo, int32_t hi) { return lo + int32_t(U32() % uint32_t(hi - lo + 1)); }
};

RECT Rect(Reader& r, int32_t unit, int32_t w, int32_t h) {
  // Rectangles around and partly outside the bitmap.
  const int32_t l = r.Range(-3 * unit, (w + 3) * unit), t = r.Range(-3 * unit, (h + 3) * unit);
  return {l, t, l + r.Range(0, (w + 4) * unit), t + r.Range(0, (h + 4) * unit)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{data, size};
  const int32_t sw = r.Range(1, 24), sh = r.Range(1, 24), dw = r.Range(1, 24), dh = r.Range(1, 24);
  const uint32_t mode = r.U32();
  if ((mode & 3) != 3) {
    // The scalers on exact-size buffers.
    const bool isFloat = mode & 4;
    const int bpp = isFloat ? 16 : 4;
    std::vector<uint8_t> src(size_t(sw) * sh * bpp, 0x40), dst(size_t(dw) * dh * bpp, 0x80);
    const int32_t ss[2] = {sw, sh}, ds[2] = {dw, dh};
    const bool fixed = mode & 8;
    const int32_t unit = fixed ? 16384 : 1;
    RECT d = Rect(r, unit, dw, dh), s = Rect(r, unit, sw, sh);
    if (fixed) {
      d.right += r.Range(0, 16383);
      s.bottom += r.Range(0, 16383);
    }
    static const int option = 1;
    const void* reduce = (mode & 16) ? &option : nullptr;
    const int32_t noBlend = (mode >> 5) & 1;
    if (fixed)
      ((mode & 64) ? KvDibScale_BiCubicSubPixel : KvDibScale_BilinearSubPixel)(
          dst.data(), ds, dw * bpp, (mode & 128) ? nullptr : &d, src.data(), ss, sw * bpp, (mode & 256) ? nullptr : &s,
          bpp, reduce, noBlend);
    else
      ((mode & 64) ? KvDibScale_BiCubic : KvDibScale_Bilinear)(dst.data(), ds, dw * bpp, (mode & 128) ? nullptr : &d,
                                                               src.data(), ss, sw * bpp, (mode & 256) ? nullptr : &s,
                                                               bpp, reduce, noBlend);
    return 0;
  }
  // KvDibCopy between two pixel types.
  const int32_t sc = r.Range(16, 32), dc = r.Range(16, 32);
  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = {uint8_t(i), uint8_t(i * 7), uint8_t(i * 13), 0};
  BITMAPINFOHEADER *src = nullptr, *dst = nullptr;
  const int colours = 16;
  if (KvDibAlloc(&src, sc, sw, sh, pal, colours, 1) != S_OK) return 0;
  if (KvDibAlloc(&dst, dc, dw, dh, pal, colours, 1) != S_OK) {
    KvDibFree(src, 0);
    return 0;
  }
  BYTE* sb = KvDibGetBitsPtr(src);
  for (DWORD i = 0; i < src->biSizeImage; ++i) sb[i] = uint8_t(i * 31 + (mode >> 8));
  if (sc == 22 || sc == 32)
    for (DWORD i = 0; i + 4 <= src->biSizeImage; i += 4) {
      const float f = float(i % 97) / 64.0f - 0.2f;
      std::memcpy(sb + i, &f, 4);
    }
  if (sc <= 24 && sc >= 23)
    for (DWORD i = 0; i < src->biSizeImage; ++i) sb[i] &= 0x0F;  // indexes within the palette
  const uint32_t flags = (r.U32() & 0x0FFFF0FFu);
  const bool fixed = flags & KVDIBCOPY_FIXEDRECT;
  const int32_t unit = fixed ? 16384 : 1;
  RECT d = Rect(r, unit, dw, dh), s = Rect(r, unit, sw, sh);
  KvDibCopy(dst, nullptr, (mode & 128) ? nullptr : &d, 0, src, nullptr, (mode & 256) ? nullptr : &s, 0, flags, 0.0,
            2.2);
  KvDibCopyInterlace(dst, nullptr, &d, 0, src, nullptr, &s, 0, mode & 1, flags & ~0x0F000000u);
  KvDibFree(src, 0);
  KvDibFree(dst, 0);
  return 0;
}
