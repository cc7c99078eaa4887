// KvDibCopy: dispatch between the scalers and the exchange-based workers,
// the row converters of unscaled copies, the edge-treatment and sub-pixel
// conversion workers; and the interlace copy.
#include "kvdibcopy.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kvbicubic.h"
#include "kvparallel.h"
#include "kvpixeltype.h"
#include "kvquantize.h"
#include "kvscalecommon.h"
#include "kvsubpixel.h"
#include "kvxchg.h"

using namespace kvscale;

namespace {

bool InRgbFamily(int32_t code) { return static_cast<uint32_t>(code - 16) <= 16u; }

// A bitmap with its bits and stride resolved; rows counted from the top.
struct Bitmap {
  const BITMAPINFOHEADER* h;
  BYTE* bits;
  int32_t stride;
  int32_t width, height;
  int bpp;
  Bitmap(const BITMAPINFOHEADER* hdr, const BYTE* b, int32_t s)
      : h(hdr),
        bits(const_cast<BYTE*>(b ? b : KvDibGetBitsPtr(hdr))),
        stride(s ? s : static_cast<int32_t>(KvDibGetStride(hdr))),
        width(hdr->biWidth),
        height(hdr->biHeight < 0 ? -hdr->biHeight : hdr->biHeight),
        bpp(hdr->biBitCount) {}
  bool TopDown() const { return h->biHeight < 0; }
  BYTE* Row(int64_t y) const { return bits + (TopDown() ? y : height - 1 - y) * stride; }
  // Signed step from one image row to the one below.
  int32_t Down() const { return TopDown() ? stride : -stride; }
  int32_t size[2] = {0, 0};
  const int32_t* Size() {
    size[0] = width;
    size[1] = height;
    return size;
  }
  const uint32_t* Palette() const {
    return bpp <= 8 ? reinterpret_cast<const uint32_t*>(reinterpret_cast<const BYTE*>(h) + h->biSize) : nullptr;
  }
  RECT Whole() const { return {0, 0, width, height}; }
};

// Positions a context's source or destination at pixel x of a row.
void At(const BYTE* row, int64_t x, int bpp, const uint8_t** ptr, uint32_t* bit) {
  const int64_t b = x * bpp;
  *ptr = row + b / 8;
  *bit = static_cast<uint32_t>(b % 8);
}

// An exchange context with the inverse map of a palette destination and the
// palette of a palette source; released with its map.
struct Exchange {
  std::unique_ptr<KvXchgContext> x;
  BYTE* map = nullptr;
  ~Exchange() { KvDibFreeColorQuantizer(map); }
  HRESULT Open(const Bitmap& dst, const Bitmap& src, int32_t dstCode, int32_t srcCode, uint32_t mode,
               const uint32_t* ops, double a, double b) {
    if (dstCode == KVPT_PAL4 || dstCode == KVPT_PAL8) {
      const HRESULT hr = KvDibCreateColorQuantizer(&map, dst.h);
      if (FAILED(hr)) return hr;
    }
    x.reset(new (std::nothrow) KvXchgContext);
    if (!x) return E_OUTOFMEMORY;
    const HRESULT hr = KvXCHGGetFunctionPointers(dstCode, srcCode, mode, x.get(), ops, a, b);
    if (FAILED(hr)) return hr;
    x->inverseMap = map;
    x->sourcePalette = src.Palette();
    return S_OK;
  }
};

void CopySlot(KvXchgContext& to, int ti, const KvXchgContext& from, int fi) {
  const size_t size = from.intermediateKind == KVXCHG_FLOAT ? 16 : 8;
  std::memcpy(&to.slots.b[ti * size], &from.slots.b[fi * size], size);
}

// --- Row converters of unscaled copies ------------------------------------

const float kDither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

struct FloatToByte {
  bool dither = false;
  const BYTE* table = nullptr;  // 4097 entries of the curve, or null
  BYTE operator()(float v, int32_t x, int32_t y) const {
    if (dither) v += kDither[y & 3][x & 3] / (16.0f * 255.0f);
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    if (table) return table[static_cast<int32_t>(std::nearbyint(v * 4095.0f))];
    const float b = v * 255.0f;
    return static_cast<BYTE>(b >= 255.0f ? 255 : static_cast<int32_t>(b));
  }
};

// True when the pair has a row converter; converts the rectangle's rows.
bool RowConvert(const Bitmap& dst, const RECT& D, int32_t dstCode, const Bitmap& src, const RECT& S, int32_t srcCode,
                uint32_t mode, const KvXchgContext& x) {
  const bool d4 = dstCode == KVPT_RGB32 || dstCode == KVPT_RGBA32, s4 = srcCode == KVPT_RGB32 || srcCode == KVPT_RGBA32;
  const bool known = (srcCode == 32 && (d4 || dstCode == 27 || dstCode == 32)) || (s4 && dstCode == 32) ||
                     (srcCode == 27 && (dstCode == 32 || d4)) || (srcCode == dstCode && dst.bpp > 8);
  if (!known) return false;
  const int32_t W = D.right - D.left, H = D.bottom - D.top;
  const KvGammaCurve& curve = srcCode == 32 ? x.sourceCurve : x.destCurve;
  const bool gamma = !KvXchgCurveIsIdentity(curve);
  std::vector<BYTE> byteTable;
  FloatToByte toByte;
  toByte.dither = (mode & 0xF) >= 3;
  if (gamma && srcCode == 32 && dstCode != 32) {
    byteTable.resize(4097);
    for (int i = 0; i <= 4096; ++i) {
      const double v = std::nearbyint(double(curve.Evaluate(float(i / 4095.0))) * 255.0);
      byteTable[i] = static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    toByte.table = byteTable.data();
  }
  float toFloat[256];
  for (int i = 0; i < 256; ++i) toFloat[i] = gamma ? curve.Evaluate(float(i / 255.0)) : float(i / 255.0);
  const size_t rowBytes = size_t(W) * dst.bpp / 8;
  // The tables are ready; the rows are divided among the threads.
  KvParallelRows(0, H, [&](int32_t y) {
    const BYTE* s = src.Row(S.top + y) + size_t(S.left) * src.bpp / 8;
    BYTE* d = dst.Row(D.top + y) + size_t(D.left) * dst.bpp / 8;
    if (srcCode == dstCode && !(srcCode == 32 && gamma)) {
      std::memmove(d, s, rowBytes);
      return;
    }
    for (int32_t i = 0; i < W; ++i) {
      if (srcCode == 32) {
        float f[4];
        std::memcpy(f, s + size_t(i) * 16, 16);
        if (dstCode == 32) {
          for (float& v : f) v = curve.Evaluate(v);
          std::memcpy(d + size_t(i) * 16, f, 16);
        } else {
          const int n = dstCode == 27 ? 3 : 4;
          for (int ch = 0; ch < n; ++ch) d[size_t(i) * n + ch] = toByte(f[ch], i, y);
        }
      } else if (dstCode == 32) {
        const int n = srcCode == 27 ? 3 : 4;
        float f[4] = {0, 0, 0, 1.0f};
        for (int ch = 0; ch < n; ++ch) f[ch] = toFloat[s[size_t(i) * n + ch]];
        std::memcpy(d + size_t(i) * 16, f, 16);
      } else {  // 27 to 28 or 29
        std::memcpy(d + size_t(i) * 4, s + size_t(i) * 3, 3);
        d[size_t(i) * 4 + 3] = 255;
      }
    }
  });
  return true;
}

// --- The exchange-based whole-pixel worker --------------------------------

struct EdgeSetup {
  uint32_t edges = 0;
  int32_t margin = 0;
  RECT cut = {0, 0, 0, 0};
  // Depth of pixel (x, y) into the enabled margins; y in memory order.
  int32_t Depth(int32_t x, int32_t y, int32_t W, int32_t H) const {
    int32_t d = 0;
    auto take = [&](int32_t v) {
      if (v > d) d = v;
    };
    if ((edges & KVDIBCOPY_EDGE_FIRSTROW) && cut.top + y < margin) take(margin - cut.top - y);
    if ((edges & KVDIBCOPY_EDGE_LASTROW) && y - cut.bottom >= H - margin) take(y - cut.bottom - H + margin + 1);
    if ((edges & KVDIBCOPY_EDGE_FIRSTCOL) && cut.left + x < margin) take(margin - cut.left - x);
    if ((edges & KVDIBCOPY_EDGE_LASTCOL) && x - cut.right >= W - margin) take(x - cut.right - W + margin + 1);
    return d;
  }
};

HRESULT WholePixelWorker(const Bitmap& dst, const RECT& D, int32_t dstCode, const Bitmap& src, const RECT& S,
                         int32_t srcCode, uint32_t flags, double a, double b, const RECT& cut) {
  const uint32_t edges = flags & KVDIBCOPY_EDGES;
  // The edge blend composites two exchanges' pixels: both at 16 bits.
  const uint32_t mode = edges ? (flags | KVXCHG_FORCE16) : flags;
  Exchange ex;
  HRESULT hr = ex.Open(dst, src, dstCode, srcCode, mode, nullptr, a, b);
  if (FAILED(hr)) return hr;
  KvXchgContext& x = *ex.x;
  const int32_t W = D.right - D.left, H = D.bottom - D.top, sw = S.right - S.left, sh = S.bottom - S.top;
  const bool scaled = sw != W || sh != H;
  try {
    if (!scaled && !edges && RowConvert(dst, D, dstCode, src, S, srcCode, flags, x)) return S_OK;
  } catch (...) {
    // The gamma byte table is the only allocation; nothing is thrown across
    // the library's boundary.
    return E_OUTOFMEMORY;
  }

  EdgeSetup edge;
  edge.edges = edges;
  edge.margin = static_cast<int32_t>(x.userByte);
  edge.cut = cut;
  Exchange blend;
  const bool edgeBlend = edges && edge.margin > 0;
  if (edgeBlend) {
    uint32_t ops[14] = {3};
    hr = blend.Open(dst, dst, dstCode, dstCode, mode, ops, a, b);
    if (FAILED(hr)) return hr;
    blend.x->sourcePalette = dst.Palette();
  }
  // Steps between the first and last pixels; a single destination pixel
  // takes the first source pixel (no division by an extent of 0).
  const int64_t stepX = !scaled ? kOne : W > 1 ? ((int64_t(sw) << 14) - kOne) / (W - 1) : 0;
  const int64_t stepY = !scaled ? kOne : H > 1 ? ((int64_t(sh) << 14) - kOne) / (H - 1) : 0;
  const bool interpolate = x.fetchBilinear != x.fetchOne;
  const size_t slotSize = x.intermediateKind == KVXCHG_FLOAT ? 16 : 8;
  KvXchgSlots staged;
  for (int32_t j = 0; j < H; ++j) {
    const int32_t sy = !scaled ? j : j == H - 1 ? sh - 1 : static_cast<int32_t>((j * stepY) >> 14);
    const BYTE* srow = src.Row(S.top + sy);
    BYTE* drow = dst.Row(D.top + j);
    const int32_t yMem = dst.TopDown() ? j : H - 1 - j;
    At(drow, D.left, dst.bpp, const_cast<const uint8_t**>(&x.destPtr), &x.destBit);
    int pending = 0;
    for (int32_t i = 0; i < W; ++i) {
      int64_t xpos = scaled ? i * stepX : int64_t(i) << 14;
      int32_t ix = static_cast<int32_t>(xpos >> 14), fx = static_cast<int32_t>(xpos & 16383);
      if (ix >= sw - 1) {
        ix = sw - 1;
        fx = 0;
      }
      At(srow, S.left + ix, src.bpp, &x.sourcePtr, &x.sourceBit);
      if (fx && interpolate) {
        // The right neighbour exists (ix < last); no lower row is blended.
        x.weightX = fx;
        x.weightY = 0;
        x.sourceStride = 0;
        x.fetchBilinear(&x);
      } else {
        x.fetchOne(&x);
      }
      const int32_t d = edgeBlend ? edge.Depth(i, yMem, W, H) : 0;
      if (edgeBlend && d > 0) {
        // The new pixel (slot 0) takes the existing one (slot 1) with a share
        // that grows toward the outermost pixel of the margin.
        At(drow, D.left + i, dst.bpp, &blend.x->sourcePtr, &blend.x->sourceBit);
        blend.x->fetchOne(blend.x.get());
        CopySlot(*blend.x, 1, *blend.x, 0);
        CopySlot(*blend.x, 0, x, 0);
        const uint16_t opacity = static_cast<uint16_t>((65535 / (edge.margin + 1)) * d);
        std::memcpy(reinterpret_cast<BYTE*>(blend.x->opParams) + 16, &opacity, 2);
        blend.x->opOne(blend.x.get());
        CopySlot(x, 0, *blend.x, 0);
      }
      if (edges) {
        x.storeOne(&x);
        continue;
      }
      // Four pixels a round, the rest one by one.
      std::memcpy(&staged.b[pending * slotSize], &x.slots.b[0], slotSize);
      if (++pending == 4) {
        std::memcpy(&x.slots, &staged, sizeof(staged));
        x.storeRun(&x);
        pending = 0;
      }
    }
    for (int k = 0; k < pending; ++k) {
      std::memcpy(&x.slots.b[0], &staged.b[k * slotSize], slotSize);
      x.storeOne(&x);
    }
  }
  return S_OK;
}

// --- The sub-pixel conversion worker --------------------------------------

HRESULT SubPixelWorker(Bitmap& dst, const RECT& Dfx, int32_t dstCode, Bitmap& src, const RECT& Sfx, int32_t srcCode,
                       uint32_t flags, double a, double b) {
  KvSubpixelParam p;
  if (!KvPrepareSubpixelParam(&p, dst.Row(0), dst.Size(), dst.Down(), &Dfx, src.Row(0), src.Size(), src.Down(),
                              &Sfx))
    return S_OK;
  if (Width(p.srcRead) <= 0 || Height(p.srcRead) <= 0) return S_OK;
  Exchange ex;
  HRESULT hr = ex.Open(dst, src, dstCode, srcCode, flags, nullptr, a, b);
  if (FAILED(hr)) return hr;
  KvXchgContext& x = *ex.x;
  // The existing destination pixels of partly covered edges, at the same
  // intermediate precision.
  Exchange old;
  hr = old.Open(dst, dst, dstCode, dstCode, x.intermediateKind == KVXCHG_16BIT ? (flags | KVXCHG_FORCE16) : flags,
                nullptr, a, b);
  if (FAILED(hr)) return hr;
  old.x->sourcePalette = dst.Palette();
  const Axis rows = MakeAxis(p.dstClip.top, p.dstClip.bottom), cols = MakeAxis(p.dstClip.left, p.dstClip.right);
  const int32_t lastCol = (Ceil(p.srcRead.right) >> 14) - 1, lastRow = (Ceil(p.srcRead.bottom) >> 14) - 1;
  const bool interpolate = x.fetchBilinear != x.fetchOne;
  for (int32_t k = 0; k < rows.count(); ++k) {
    int64_t ypos = int64_t(p.srcRead.top) + int64_t(k) * p.scaleStepY;
    int32_t iy = static_cast<int32_t>(ypos >> 14), fy = static_cast<int32_t>(ypos & 16383);
    if (iy >= lastRow) {
      iy = lastRow;
      fy = 0;
    }
    BYTE* drow = dst.Row(rows.first + k);
    for (int32_t c = 0; c < cols.count(); ++c) {
      int64_t xpos = int64_t(p.srcRead.left) + int64_t(c) * p.scaleStepX;
      int32_t ix = static_cast<int32_t>(xpos >> 14), fx = static_cast<int32_t>(xpos & 16383);
      if (ix >= lastCol) {
        ix = lastCol;
        fx = 0;
      }
      At(src.Row(iy), ix, src.bpp, &x.sourcePtr, &x.sourceBit);
      if ((fx || fy) && interpolate) {
        // A nonzero fraction means the neighbour on that axis exists (the
        // last column and row take fraction 0); the kernels read only
        // neighbours that exist: the vertical one alone when there is no
        // horizontal fraction, the row itself as "below" when there is no
        // vertical one.
        x.weightX = fx;
        x.weightY = fy;
        x.sourceStride = fy ? static_cast<int32_t>(src.Row(iy + 1) - src.Row(iy)) : 0;
        if (fx)
          x.fetchBilinear(&x);
        else
          x.fetchVertical(&x);
      } else {
        x.fetchOne(&x);
      }
      const int64_t amount = (int64_t(cols.Coverage(c)) * rows.Coverage(k)) >> 14;
      if (amount < kOne) {
        At(drow, cols.first + c, dst.bpp, &old.x->sourcePtr, &old.x->sourceBit);
        old.x->fetchOne(old.x.get());
        if (x.intermediateKind == KVXCHG_8BIT) {
          const int32_t m = static_cast<int32_t>(amount * 255 / kOne);
          for (int ch = 0; ch < 4; ++ch) {
            const int32_t o = old.x->Slot8(0)[ch], n = x.Slot8(0)[ch];
            x.Slot8(0)[ch] = static_cast<uint8_t>((n - o) * m / 256 + o);
          }
        } else {
          const int32_t m = static_cast<int32_t>(amount * 65535 / kOne);
          for (int ch = 0; ch < 4; ++ch) {
            const int32_t o = old.x->Slot16(0)[ch], n = x.Slot16(0)[ch];
            x.Slot16(0)[ch] = static_cast<uint16_t>((((n - o) * int64_t(m)) >> 16) + o);
          }
        }
      }
      At(drow, cols.first + c, dst.bpp, const_cast<const uint8_t**>(&x.destPtr), &x.destBit);
      x.storeOne(&x);
    }
  }
  return S_OK;
}

bool WholeMultiple(const RECT& r) {
  return (r.left % kOne) == 0 && (r.top % kOne) == 0 && (r.right % kOne) == 0 && (r.bottom % kOne) == 0;
}

RECT ToWhole(const RECT& r) { return {r.left / kOne, r.top / kOne, r.right / kOne, r.bottom / kOne}; }

bool SameScalable(int32_t d, int32_t s) {
  return ((d == 28 || d == 29) && (s == 28 || s == 29)) || (d == 32 && s == 32);
}

// Clips own against bounds; each cut trims the partner by partner extent *
// cut / own extent, recorded in partnerCuts when given.
void ClipPair(RECT& own, RECT& partner, const RECT& bounds, RECT* partnerCuts, RECT* ownCuts) {
  const int64_t ow = int64_t(own.right) - own.left, oh = int64_t(own.bottom) - own.top;
  const int64_t pw = int64_t(partner.right) - partner.left, ph = int64_t(partner.bottom) - partner.top;
  if (ow <= 0 || oh <= 0) {
    own = partner = {0, 0, 0, 0};
    return;
  }
  auto trim = [](int64_t cut, int64_t partnerExtent, int64_t ownExtent) {
    return static_cast<LONG>(partnerExtent * cut / ownExtent);
  };
  if (own.left < bounds.left) {
    const int64_t c = int64_t(bounds.left) - own.left;
    const LONG t = trim(c, pw, ow);
    partner.left += t;
    if (partnerCuts) partnerCuts->left += t;
    if (ownCuts) ownCuts->left += static_cast<LONG>(c);
    own.left = bounds.left;
  }
  if (own.right > bounds.right) {
    const int64_t c = int64_t(own.right) - bounds.right;
    const LONG t = trim(c, pw, ow);
    partner.right -= t;
    if (partnerCuts) partnerCuts->right += t;
    if (ownCuts) ownCuts->right += static_cast<LONG>(c);
    own.right = bounds.right;
  }
  if (own.top < bounds.top) {
    const int64_t c = int64_t(bounds.top) - own.top;
    const LONG t = trim(c, ph, oh);
    partner.top += t;
    if (partnerCuts) partnerCuts->top += t;
    if (ownCuts) ownCuts->top += static_cast<LONG>(c);
    own.top = bounds.top;
  }
  if (own.bottom > bounds.bottom) {
    const int64_t c = int64_t(own.bottom) - bounds.bottom;
    const LONG t = trim(c, ph, oh);
    partner.bottom -= t;
    if (partnerCuts) partnerCuts->bottom += t;
    if (ownCuts) ownCuts->bottom += static_cast<LONG>(c);
    own.bottom = bounds.bottom;
  }
}

bool Empty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

}  // namespace

HRESULT KVAPI KvDibPrepareRects(const BITMAPINFOHEADER* dst, RECT* dstOut, const RECT* dstRect,
                                const BITMAPINFOHEADER* src, RECT* srcOut, const RECT* srcRect, RECT* trimmed) {
  if (!dst || !src) return E_INVALIDARG;
  const RECT dstAll = {0, 0, dst->biWidth, dst->biHeight < 0 ? -dst->biHeight : dst->biHeight};
  const RECT srcAll = {0, 0, src->biWidth, src->biHeight < 0 ? -src->biHeight : src->biHeight};
  RECT D = dstRect ? *dstRect : dstAll, S = srcRect ? *srcRect : srcAll, cuts = {0, 0, 0, 0};
  // A rectangle of no extent is empty (and trims nothing).
  if (Empty(D) || Empty(S)) {
    D = S = {0, 0, 0, 0};
  } else {
    ClipPair(D, S, dstAll, &cuts, nullptr);
    if (!Empty(S) && !Empty(D)) ClipPair(S, D, srcAll, nullptr, &cuts);
    if (Empty(D) || Empty(S)) {
      D = S = {0, 0, 0, 0};
      cuts = {0, 0, 0, 0};
    }
  }
  if (dstOut) *dstOut = dstRect ? D : dstAll;
  if (srcOut) *srcOut = srcRect ? S : srcAll;
  if (trimmed) *trimmed = srcRect ? cuts : RECT{0, 0, 0, 0};
  return S_OK;
}

HRESULT KVAPI KvDibCopy(BITMAPINFOHEADER* dstHeader, BYTE* dstBits, const RECT* dstRect, int32_t dstStride,
                        const BITMAPINFOHEADER* srcHeader, const BYTE* srcBits, const RECT* srcRect, int32_t srcStride,
                        uint32_t flags, double gammaA, double gammaB) {
  if (!dstHeader || !srcHeader) return E_INVALIDARG;
  const int32_t dstCode = KvGetPixelType(dstHeader), srcCode = KvGetPixelType(srcHeader);
  if (!InRgbFamily(dstCode) || !InRgbFamily(srcCode)) return E_NOTIMPL;
  Bitmap dst(dstHeader, dstBits, dstStride), src(srcHeader, srcBits, srcStride);
  const bool fixed = (flags & KVDIBCOPY_FIXEDRECT) != 0;
  const int32_t unit = fixed ? kOne : 1;
  RECT D = dstRect ? *dstRect : RECT{0, 0, dst.width * unit, dst.height * unit};
  RECT S = srcRect ? *srcRect : RECT{0, 0, src.width * unit, src.height * unit};
  const uint32_t mode = flags & 0xF;
  const bool bicubic = (flags & KVDIBCOPY_BICUBIC) != 0;
  static const int kOption = 1;
  const void* average = (flags & KVDIBCOPY_AVERAGE) ? &kOption : nullptr;
  const int32_t noBlend = (flags & KVDIBCOPY_NOBLEND) ? 1 : 0;
  const int32_t bytes = dstCode == 32 ? 16 : 4;

  if (fixed && !(WholeMultiple(D) && WholeMultiple(S)) && mode >= 3) {
    if (SameScalable(dstCode, srcCode)) {
      (bicubic ? KvDibScale_BiCubicSubPixel : KvDibScale_BilinearSubPixel)(
          dst.Row(0), dst.Size(), dst.Down(), &D, src.Row(0), src.Size(), src.Down(), &S, bytes, average, noBlend);
      return S_OK;
    }
    return SubPixelWorker(dst, D, dstCode, src, S, srcCode, flags, gammaA, gammaB);
  }
  if (fixed) {
    D = ToWhole(D);
    S = ToWhole(S);
  }
  if (SameScalable(dstCode, srcCode) && mode >= 3) {
    (bicubic ? KvDibScale_BiCubic : KvDibScale_Bilinear)(dst.Row(0), dst.Size(), dst.Down(), &D, src.Row(0),
                                                         src.Size(), src.Down(), &S, bytes, average, noBlend);
    return S_OK;
  }
  RECT cD, cS, cut;
  KvDibPrepareRects(dstHeader, &cD, &D, srcHeader, &cS, &S, &cut);
  if (Empty(cD) || Empty(cS)) return S_OK;
  return WholePixelWorker(dst, cD, dstCode, src, cS, srcCode, flags, gammaA, gammaB, cut);
}

HRESULT KVAPI KvDibCopyInterlace(BITMAPINFOHEADER* dstHeader, BYTE* dstBits, const RECT* dstRect, int32_t dstStride,
                                 const BITMAPINFOHEADER* srcHeader, const BYTE* srcBits, const RECT* srcRect,
                                 int32_t srcStride, uint32_t field, uint32_t flags) {
  if (!dstHeader || !srcHeader) return E_INVALIDARG;
  const int32_t srcCode = KvGetPixelType(srcHeader), dstCode = KvGetPixelType(dstHeader);
  Bitmap dst(dstHeader, dstBits, dstStride), src(srcHeader, srcBits, srcStride);
  auto resolve = [&](const RECT* r, const Bitmap& b) {
    RECT v = r ? *r : b.Whole();
    if (r && (flags & KVDIBCOPY_FIXEDRECT)) v = ToWhole(v);
    return Intersect(v, b.Whole());
  };
  if (!InRgbFamily(srcCode)) return E_NOTIMPL;
  const RECT S = resolve(srcRect, src);
  if (Empty(S)) return S_OK;
  if (!InRgbFamily(dstCode)) return E_NOTIMPL;
  const RECT D = resolve(dstRect, dst);
  if (Empty(D)) return S_OK;
  Exchange ex;
  HRESULT hr = ex.Open(dst, src, dstCode, srcCode, flags, nullptr, 0.0, 0.0);
  if (FAILED(hr)) return hr;
  if (Width(D) != Width(S) || Height(D) != Height(S)) return E_NOTIMPL;
  KvXchgContext& x = *ex.x;
  const int32_t W = Width(D), H = Height(D);
  for (int32_t j = 0; j < H; ++j) {
    const int32_t row = S.top + j;
    BYTE* drow = dst.Row(D.top + j);
    At(drow, D.left, dst.bpp, const_cast<const uint8_t**>(&x.destPtr), &x.destBit);
    if (static_cast<uint32_t>((S.bottom - row) & 1) == field) {
      At(src.Row(row), S.left, src.bpp, &x.sourcePtr, &x.sourceBit);
      for (int32_t i = 0; i < W; ++i) {
        x.fetchOne(&x);
        x.storeOne(&x);
      }
      continue;
    }
    // Rebuilt from the rows above and below (the one neighbour at the ends).
    const int32_t up = row > S.top ? row - 1 : row + 1 < S.bottom ? row + 1 : row;
    const int32_t down = row + 1 < S.bottom ? row + 1 : up;
    for (int32_t i = 0; i < W; ++i) {
      At(src.Row(up), S.left + i, src.bpp, &x.sourcePtr, &x.sourceBit);
      x.fetchOne(&x);
      CopySlot(x, 1, x, 0);
      At(src.Row(down), S.left + i, src.bpp, &x.sourcePtr, &x.sourceBit);
      x.fetchOne(&x);
      for (int ch = 0; ch < 4; ++ch) {
        if (x.intermediateKind == KVXCHG_8BIT)
          x.Slot8(0)[ch] = static_cast<uint8_t>((x.Slot8(0)[ch] + x.Slot8(1)[ch]) >> 1);
        else if (x.intermediateKind == KVXCHG_16BIT)
          x.Slot16(0)[ch] = static_cast<uint16_t>((x.Slot16(0)[ch] + x.Slot16(1)[ch]) >> 1);
        else
          x.SlotF(0)[ch] = (x.SlotF(0)[ch] + x.SlotF(1)[ch]) * 0.5f;
      }
      x.storeOne(&x);
    }
  }
  return S_OK;
}
