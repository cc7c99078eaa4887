// Operations on one packed DIB.
#include "kvdib.h"

#include <cstring>
#include <new>

#include "kvimagealloc.h"
#include "kvpixeltype.h"
#include "kvquantize.h"
#include "kvxchg.h"

namespace {

bool InRgbFamily(int32_t code) { return static_cast<uint32_t>(code - 16) <= 16u; }

int32_t Rows(const BITMAPINFOHEADER* h) { return h->biHeight < 0 ? -h->biHeight : h->biHeight; }

// Where image row y (0 = top) lives; a negative height is a top-down bitmap.
BYTE* RowPtr(const BITMAPINFOHEADER* h, BYTE* bits, int32_t stride, int32_t y) {
  return bits + int64_t(h->biHeight < 0 ? y : Rows(h) - 1 - y) * stride;
}

struct Target {
  BYTE* bits;
  int32_t stride;
};

Target Resolve(const BITMAPINFOHEADER* h, const BYTE* bits, int32_t stride) {
  return {const_cast<BYTE*>(bits ? bits : KvDibGetBitsPtr(h)),
          stride ? stride : static_cast<int32_t>(KvDibGetStride(h))};
}

// The rectangle (null: the whole bitmap) intersected with the bitmap; false
// when nothing is left. With fixed, the coordinates are 18.14 values and are
// truncated to whole pixels.
bool ClipRect(const BITMAPINFOHEADER* h, const RECT* rect, bool fixed, RECT* out) {
  RECT r = {0, 0, h->biWidth, Rows(h)};
  if (rect) {
    r = *rect;
    if (fixed) {
      r.left /= 16384;
      r.top /= 16384;
      r.right /= 16384;
      r.bottom /= 16384;
    }
  }
  out->left = r.left > 0 ? r.left : 0;
  out->top = r.top > 0 ? r.top : 0;
  out->right = r.right < h->biWidth ? r.right : h->biWidth;
  out->bottom = r.bottom < Rows(h) ? r.bottom : Rows(h);
  return out->left < out->right && out->top < out->bottom;
}

uint32_t HeaderBytes(const BITMAPINFOHEADER* h) {
  return h->biCompression == BI_BITFIELDS ? h->biSize + 12 : h->biSize + 4 * h->biClrUsed;
}

// A colour channel as an intermediate value; outside 0..1 it is held at the
// ends (a float outside a byte's range has no truncated value).
uint32_t Scale(float v, uint32_t max) {
  if (!(v > 0.0f)) return 0;
  const float x = v * static_cast<float>(max);
  return x >= static_cast<float>(max) ? max : static_cast<uint32_t>(x);
}

// Exchange context of a DIB's own code, with the inverse map of its palette
// for the palette codes and its palette for fetches.
struct DibExchange {
  KvXchgContext* x = nullptr;
  BYTE* map = nullptr;
  ~DibExchange() {
    delete x;
    KvDibFreeColorQuantizer(map);
  }
  HRESULT Open(const BITMAPINFOHEADER* dib, int32_t code, uint32_t mode, bool needMap) {
    if (needMap && (code == KVPT_PAL4 || code == KVPT_PAL8)) {
      const HRESULT hr = KvDibCreateColorQuantizer(&map, dib);
      if (FAILED(hr)) return hr;
    }
    x = new (std::nothrow) KvXchgContext;
    if (!x) return E_OUTOFMEMORY;
    const HRESULT hr = KvXCHGGetFunctionPointers(code, code, mode, x, nullptr, 0.0, 0.0);
    if (FAILED(hr)) return hr;
    x->inverseMap = map;
    if (dib->biBitCount <= 8)
      x->sourcePalette = reinterpret_cast<const uint32_t*>(reinterpret_cast<const BYTE*>(dib) + dib->biSize);
    return S_OK;
  }
};

void SwapBytes(BYTE* a, BYTE* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const BYTE t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

inline BYTE Nibble(const BYTE* row, int32_t x) { return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4; }
inline void SetNibble(BYTE* row, int32_t x, BYTE v) {
  BYTE& b = row[x >> 1];
  b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | v) : static_cast<BYTE>((b & 0x0F) | (v << 4));
}

// Blend of v toward c with an 8-bit amount a (255 = all of c), rounded.
inline int FadeByte(int v, int c, int a) {
  const int t = (c - v) * a + 128;
  int r = v + ((t + (t >> 8)) >> 8);
  return r < 0 ? 0 : r > 255 ? 255 : r;
}

}  // namespace

HRESULT KVAPI KvDibInfo(DWORD* headerBytes, DWORD* imageSize, BITMAPINFOHEADER* header, int32_t code, int32_t width,
                        int32_t height, const RGBQUAD* palette, int32_t colours) {
  if (!header) return E_INVALIDARG;
  if (colours > 256) colours = 256;
  const HRESULT hr = KvVideo_InitBitmapInfo(header, code, width, height, palette, colours, imageSize);
  if (FAILED(hr)) return hr;
  if (headerBytes) *headerBytes = HeaderBytes(header);
  return S_OK;
}

HRESULT KVAPI KvDibAlloc(BITMAPINFOHEADER** dib, int32_t code, int32_t width, int32_t height, const RGBQUAD* palette,
                         int32_t colours, uint32_t flags) {
  if (!dib) return E_POINTER;
  *dib = nullptr;
  // The header with room for three masks or 256 palette entries.
  struct {
    BITMAPINFOHEADER h;
    BYTE after[1024];
  } info;
  std::memset(&info, 0, sizeof(info));
  DWORD imageSize = 0, headerBytes = 0;
  const HRESULT hr = KvDibInfo(&headerBytes, &imageSize, &info.h, code, width, height, palette, colours);
  if (FAILED(hr)) return hr;
  const uint64_t total = uint64_t(headerBytes) + imageSize;
  if (total > 0x7FFFFFFFull) return E_OUTOFMEMORY;
  // Blocks are always zero-filled here (flag bit 0 asks for it; nothing
  // relies on its absence).
  BYTE* block = static_cast<BYTE*>(KvImageAllocZeroed(static_cast<size_t>(total)));
  if (!block) return E_OUTOFMEMORY;
  std::memcpy(block, &info, headerBytes);
  *dib = reinterpret_cast<BITMAPINFOHEADER*>(block);
  return S_OK;
}

HRESULT KVAPI KvDibFree(BITMAPINFOHEADER* dib, uint32_t) {
  KvImageFree(dib);
  return S_OK;
}

HRESULT KVAPI KvDibSet(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride, float red, float green,
                       float blue, float alpha, uint32_t flags) {
  if (!dib) return E_INVALIDARG;
  const int32_t code = KvGetPixelType(dib);
  if (!InRgbFamily(code)) return E_NOTIMPL;
  RECT r;
  if (!ClipRect(dib, rect, (flags & KVDIB_FIXEDRECT) != 0, &r)) return S_OK;
  DibExchange ex;
  HRESULT hr = ex.Open(dib, code, flags & ~KVDIB_FIXEDRECT, true);
  if (FAILED(hr)) return hr;
  KvXchgContext& x = *ex.x;
  for (int i = 0; i < 4; ++i) {
    if (x.intermediateKind == KVXCHG_8BIT) {
      BYTE* s = x.Slot8(i);
      s[0] = static_cast<BYTE>(Scale(blue, 255));
      s[1] = static_cast<BYTE>(Scale(green, 255));
      s[2] = static_cast<BYTE>(Scale(red, 255));
      s[3] = static_cast<BYTE>(Scale(alpha, 255));
    } else if (x.intermediateKind == KVXCHG_16BIT) {
      uint16_t* s = x.Slot16(i);
      s[0] = static_cast<uint16_t>(Scale(blue, 65535));
      s[1] = static_cast<uint16_t>(Scale(green, 65535));
      s[2] = static_cast<uint16_t>(Scale(red, 65535));
      s[3] = static_cast<uint16_t>(Scale(alpha, 65535));
    } else {
      float* s = x.SlotF(i);
      s[0] = blue;
      s[1] = green;
      s[2] = red;
      s[3] = alpha;
    }
  }
  const Target t = Resolve(dib, bits, stride);
  const int bpp = dib->biBitCount;
  const int32_t width = r.right - r.left;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const int64_t bit = int64_t(r.left) * bpp;
    x.destPtr = RowPtr(dib, t.bits, t.stride, y) + bit / 8;
    x.destBit = static_cast<uint32_t>(bit % 8);
    for (int32_t g = 0; g < width / 4; ++g) x.storeRun(&x);
    for (int32_t i = 0; i < width % 4; ++i) x.storeOne(&x);
  }
  return S_OK;
}

HRESULT KVAPI KvDibFillRect(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride, const float* colour,
                            uint32_t flags) {
  if (!colour) return E_POINTER;
  return KvDibSet(dib, bits, rect, stride, colour[2], colour[1], colour[0], colour[3], flags);
}

HRESULT KVAPI KvDibFillRectChannel(BITMAPINFOHEADER*, BYTE*, const RECT*, int32_t, uint32_t, float, uint32_t) {
  return E_NOTIMPL;
}

// Single pixels use the 16-bit intermediate (flags 19: a preset that forces it).
HRESULT KVAPI KvDibGetPixel(const BITMAPINFOHEADER* dib, const BYTE* bits, int32_t stride, int32_t x, int32_t y,
                            uint64_t* pixel) {
  if (!dib || !pixel) return E_POINTER;
  const int32_t code = KvGetPixelType(dib);
  if (!InRgbFamily(code)) return E_NOTIMPL;
  if (x < 0 || y < 0 || x >= dib->biWidth || y >= Rows(dib)) return E_NOTIMPL;
  DibExchange ex;
  HRESULT hr = ex.Open(dib, code, 19, false);
  if (FAILED(hr)) return hr;
  const Target t = Resolve(dib, bits, stride);
  const int64_t bit = int64_t(x) * dib->biBitCount;
  ex.x->sourcePtr = RowPtr(dib, t.bits, t.stride, y) + bit / 8;
  ex.x->sourceBit = static_cast<uint32_t>(bit % 8);
  ex.x->fetchOne(ex.x);
  const uint16_t* s = ex.x->Slot16(0);
  *pixel = uint64_t(s[0]) | (uint64_t(s[1]) << 16) | (uint64_t(s[2]) << 32) | (uint64_t(s[3]) << 48);
  return S_OK;
}

HRESULT KVAPI KvDibSetPixel(BITMAPINFOHEADER* dib, BYTE* bits, int32_t stride, int32_t x, int32_t y,
                            const uint64_t* pixel) {
  if (!dib || !pixel) return E_POINTER;
  const int32_t code = KvGetPixelType(dib);
  if (!InRgbFamily(code)) return E_NOTIMPL;
  if (x < 0 || y < 0 || x >= dib->biWidth || y >= Rows(dib)) return E_INVALIDARG;
  // Palette bitmaps need the inverse map of their palette to store a colour.
  DibExchange ex;
  HRESULT hr = ex.Open(dib, code, 19, true);
  if (FAILED(hr)) return hr;
  uint16_t* s = ex.x->Slot16(0);
  for (int i = 0; i < 4; ++i) s[i] = static_cast<uint16_t>(*pixel >> (16 * i));
  const Target t = Resolve(dib, bits, stride);
  const int64_t bit = int64_t(x) * dib->biBitCount;
  ex.x->destPtr = RowPtr(dib, t.bits, t.stride, y) + bit / 8;
  ex.x->destBit = static_cast<uint32_t>(bit % 8);
  ex.x->storeOne(ex.x);
  return S_OK;
}

HRESULT KVAPI KvDibFlip(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride, uint32_t,
                        uint32_t vertical) {
  if (!dib) return E_INVALIDARG;
  const int32_t code = KvGetPixelType(dib);
  if (code < KVPT_PAL4 || code > KVPT_RGBAF128 || code == KVPT_RGB101010 || code == KVPT_RGBAF128) return E_NOTIMPL;
  if (!vertical) return S_OK;
  RECT r;
  if (!ClipRect(dib, rect, false, &r)) return S_OK;
  // The rows of the clipped rectangle trade places, top with bottom, over the
  // rectangle's columns (for the whole bitmap: whole rows).
  const Target t = Resolve(dib, bits, stride);
  const int bpp = dib->biBitCount;
  for (int32_t a = r.top, b = r.bottom - 1; a < b; ++a, --b) {
    BYTE* ra = RowPtr(dib, t.bits, t.stride, a);
    BYTE* rb = RowPtr(dib, t.bits, t.stride, b);
    if (bpp >= 8 || ((r.left | r.right) & 1) == 0) {
      const size_t from = size_t(r.left) * bpp / 8, to = (size_t(r.right) * bpp + 7) / 8;
      SwapBytes(ra + from, rb + from, to - from);
    } else {
      for (int32_t x = r.left; x < r.right; ++x) {
        const BYTE va = Nibble(ra, x);
        SetNibble(ra, x, Nibble(rb, x));
        SetNibble(rb, x, va);
      }
    }
  }
  return S_OK;
}

HRESULT KVAPI KvDibSwapRB(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride) {
  if (!dib) return E_INVALIDARG;
  const int32_t code = KvGetPixelType(dib);
  if (code != KVPT_RGB24 && code != KVPT_RGB32 && code != KVPT_RGBA32) return E_NOTIMPL;
  RECT r;
  if (!ClipRect(dib, rect, false, &r)) return S_OK;
  const Target t = Resolve(dib, bits, stride);
  const int bytes = code == KVPT_RGB24 ? 3 : 4;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    BYTE* row = RowPtr(dib, t.bits, t.stride, y);
    for (int32_t x = r.left; x < r.right; ++x) {
      BYTE* p = row + size_t(x) * bytes;
      const BYTE b = p[0];
      p[0] = p[2];
      p[2] = b;
    }
  }
  return S_OK;
}

HRESULT KVAPI KvDibFadeToColor(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride,
                               const float* colour, float amount, uint32_t keepAlpha, uint32_t flags) {
  if (!dib || !colour) return E_INVALIDARG;
  const int32_t code = KvGetPixelType(dib);
  if (code != KVPT_RGB32 && code != KVPT_RGBA32 && code != KVPT_RGBAF128) return E_NOTIMPL;
  // The rectangle in 18.14, clipped to the bitmap.
  const int64_t w = int64_t(dib->biWidth) * 16384, h = int64_t(Rows(dib)) * 16384;
  int64_t l = 0, tp = 0, rt = w, bt = h;
  if (rect) {
    const int64_t unit = (flags & KVDIB_FIXEDRECT) ? 1 : 16384;
    l = int64_t(rect->left) * unit;
    tp = int64_t(rect->top) * unit;
    rt = int64_t(rect->right) * unit;
    bt = int64_t(rect->bottom) * unit;
  }
  if (l < 0) l = 0;
  if (tp < 0) tp = 0;
  if (rt > w) rt = w;
  if (bt > h) bt = h;
  if (l >= rt || tp >= bt) return S_OK;
  // Pixel span and the coverage (14 bits) of its first and last column and row.
  const int32_t x0 = int32_t(l >> 14), x1 = int32_t((rt + 16383) >> 14);
  const int32_t y0 = int32_t(tp >> 14), y1 = int32_t((bt + 16383) >> 14);
  const auto cover = [](int64_t a, int64_t b, int32_t p0, int32_t p1, int32_t p) -> int64_t {
    if (p1 - p0 == 1) return b - a;
    if (p == p0) return (a & 16383) ? 16384 - (a & 16383) : 16384;
    if (p == p1 - 1) return (b & 16383) ? (b & 16383) : 16384;
    return 16384;
  };
  const float f = amount < 0.0f ? 0.0f : amount > 1.0f ? 1.0f : (amount == amount ? amount : 0.0f);
  const int64_t A = static_cast<int64_t>(f * 16384.0f);
  const int channels = keepAlpha ? 3 : 4;
  const Target t = Resolve(dib, bits, stride);

  if (code == KVPT_RGBAF128) {
    for (int32_t y = y0; y < y1; ++y) {
      float* row = reinterpret_cast<float*>(RowPtr(dib, t.bits, t.stride, y));
      const float cy = float(cover(tp, bt, y0, y1, y)) / 16384.0f;
      for (int32_t x = x0; x < x1; ++x) {
        const float k = f * cy * (float(cover(l, rt, x0, x1, x)) / 16384.0f);
        float* p = row + size_t(x) * 4;
        for (int ch = 0; ch < channels; ++ch) p[ch] = p[ch] + (colour[ch] - p[ch]) * k;
      }
    }
    return S_OK;
  }

  int c[4];
  for (int k = 0; k < 4; ++k) c[k] = static_cast<int>(Scale(colour[k], 255));
  const int fullA = static_cast<int>(f * 255.0f);
  BYTE table[4][256];
  for (int k = 0; k < 4; ++k)
    for (int v = 0; v < 256; ++v) table[k][v] = static_cast<BYTE>(FadeByte(v, c[k], fullA));
  for (int32_t y = y0; y < y1; ++y) {
    BYTE* row = RowPtr(dib, t.bits, t.stride, y);
    const int64_t cy = cover(tp, bt, y0, y1, y);
    for (int32_t x = x0; x < x1; ++x) {
      BYTE* p = row + size_t(x) * 4;
      const int64_t e = (((A * cover(l, rt, x0, x1, x)) >> 14) * cy) >> 14;
      if (e == A) {
        for (int ch = 0; ch < channels; ++ch) p[ch] = table[ch][p[ch]];
      } else {
        const int a = static_cast<int>((e * 255) >> 14);
        for (int ch = 0; ch < channels; ++ch) p[ch] = static_cast<BYTE>(FadeByte(p[ch], c[ch], a));
      }
    }
  }
  return S_OK;
}

namespace {

bool SameShape(const BITMAPINFOHEADER* a, const BITMAPINFOHEADER* b) {
  return a->biBitCount == b->biBitCount && a->biWidth == b->biWidth && Rows(a) == Rows(b);
}

}  // namespace

// Rows in memory order (row 0 at the bits): field 1 is the field that holds
// the top image row.
HRESULT KVAPI KvDibMergeFields(BITMAPINFOHEADER* dst, BYTE* dstBits, int32_t dstStride, const BITMAPINFOHEADER* src,
                               const BYTE* srcBits, int32_t srcStride, int32_t field, uint32_t) {
  if (!dst || !src) return E_INVALIDARG;
  if (!SameShape(dst, src) || dst->biWidth < 0) return E_NOTIMPL;
  const Target d = Resolve(dst, dstBits, dstStride), s = Resolve(src, srcBits, srcStride);
  const int32_t rows = Rows(dst);
  const size_t bytes = size_t(dst->biWidth) * dst->biBitCount / 8;
  for (int32_t row = (field == 1 - (rows & 1)) ? 1 : 0; row < rows; row += 2)
    std::memcpy(d.bits + int64_t(row) * d.stride, s.bits + int64_t(row) * s.stride, bytes);
  return S_OK;
}

HRESULT KVAPI KvDibMergeFieldsRotated(BITMAPINFOHEADER* dst, BYTE* dstBits, int32_t dstStride,
                                      const BITMAPINFOHEADER* src, const BYTE* srcBits, int32_t srcStride,
                                      int32_t field, uint32_t) {
  if (!dst || !src) return E_INVALIDARG;
  if (!SameShape(dst, src) || dst->biWidth < 0) return E_NOTIMPL;
  // Pixels of 4 and 16 bytes only.
  if (dst->biBitCount != 32 && dst->biBitCount != 128) return E_NOTIMPL;
  const Target d = Resolve(dst, dstBits, dstStride), s = Resolve(src, srcBits, srcStride);
  const size_t px = dst->biBitCount / 8;
  const int32_t width = dst->biWidth, rows = Rows(dst);
  for (int32_t row = 0; row < rows; ++row)
    for (int32_t x = (field == 1 - (width & 1)) ? 1 : 0; x < width; x += 2)
      std::memcpy(d.bits + int64_t(row) * d.stride + x * px, s.bits + int64_t(row) * s.stride + x * px, px);
  return S_OK;
}
