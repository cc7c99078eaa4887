// Inverse colour maps and palette choice by box partition of the colour cells.
#include "kvquantize.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "kvimagealloc.h"
#include "kvpixeltype.h"
#include "kvxchg.h"

namespace {

const BYTE kEmpty = 255;  // histogram: colour not present
const BYTE kPresent = 10;

inline int CellOf(int r5, int g5, int b5) { return (r5 << 10) | (g5 << 5) | b5; }

// Box partition of the present cells with base sizes s[3] (red, green, blue)
// and pass number k; returns the number of boxes. With entries, also writes
// one palette entry per box (at most maxEntries).
int Partition(BYTE* hist, const int s[3], BYTE k, RGBQUAD* entries, int maxEntries) {
  int boxes = 0;
  for (int r = 0; r < 32; ++r)
    for (int g = 0; g < 32; ++g)
      for (int b = 0; b < 32; ++b) {
        const BYTE v = hist[CellOf(r, g, b)];
        if (v == kEmpty || v == k) continue;
        // Brighter colours get larger boxes, up to almost twice the base.
        const int scale = 96 + r + g + b;
        int end[3] = {r + s[0] * scale / 96, g + s[1] * scale / 96, b + s[2] * scale / 96};
        for (int& e : end)
          if (e > 32) e = 32;
        int rmax = r, gmax = g, bmax = b;
        for (int rr = r; rr < end[0]; ++rr)
          for (int gg = g; gg < end[1]; ++gg)
            for (int bb = b; bb < end[2]; ++bb) {
              BYTE& c = hist[CellOf(rr, gg, bb)];
              if (c == kEmpty) continue;
              c = k;
              if (rr > rmax) rmax = rr;
              if (gg > gmax) gmax = gg;
              if (bb > bmax) bmax = bb;
            }
        if (entries && boxes < maxEntries) {
          entries[boxes].rgbRed = static_cast<BYTE>(((r + rmax) >> 1) << 3);
          entries[boxes].rgbGreen = static_cast<BYTE>(((g + gmax) >> 1) << 3);
          entries[boxes].rgbBlue = static_cast<BYTE>(((b + bmax) >> 1) << 3);
          entries[boxes].rgbReserved = 0;
        }
        ++boxes;
      }
  return boxes;
}

}  // namespace

void KvDibFreeColorQuantizer(BYTE* table) { KvImageFree(table); }

HRESULT KVAPI KvDibCreateColorQuantizer(BYTE** table, const BITMAPINFOHEADER* paletteDib) {
  if (!table) return E_POINTER;
  *table = nullptr;
  if (!paletteDib) return E_INVALIDARG;
  const uint32_t count = paletteDib->biClrUsed;
  // An index must fit a byte.
  if (count == 0 || count > 256) return E_INVALIDARG;
  BYTE* map = static_cast<BYTE*>(KvImageAllocZeroed(KV_COLOR_CELLS));
  // Generation of each cell's claim; 0 = not claimed yet. The claim is told
  // by the generation, not by the value 255 in the map, which is also the
  // index of the 256th palette entry.
  BYTE* gen = static_cast<BYTE*>(std::calloc(KV_COLOR_CELLS, 1));
  if (!map || !gen) {
    KvImageFree(map);
    std::free(gen);
    return E_OUTOFMEMORY;
  }
  std::memset(map, 255, KV_COLOR_CELLS);
  const RGBQUAD* pal =
      reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(paletteDib) + paletteDib->biSize);
  int remaining = KV_COLOR_CELLS;
  for (uint32_t i = 0; i < count && remaining > 0; ++i) {
    const int cell = CellOf(pal[i].rgbRed >> 3, pal[i].rgbGreen >> 3, pal[i].rgbBlue >> 3);
    if (gen[cell]) continue;  // an earlier entry of the same cell keeps it
    map[cell] = static_cast<BYTE>(i);
    gen[cell] = 1;
    --remaining;
  }
  // Breadth-first growth, one generation a pass; generations wrap within
  // 2..255 (a pass only grows from the previous one, and the grid's city-block
  // diameter is 93).
  for (int g = 2; remaining > 0; ++g) {
    const BYTE prev = static_cast<BYTE>(g - 1), cur = static_cast<BYTE>(g);
    for (int r = 0; r < 32; ++r)
      for (int gg = 0; gg < 32; ++gg)
        for (int b = 0; b < 32; ++b) {
          const int cell = CellOf(r, gg, b);
          if (gen[cell] != prev) continue;
          const int nb[6][3] = {{r - 1, gg, b}, {r, gg - 1, b}, {r, gg, b - 1},
                                {r + 1, gg, b}, {r, gg + 1, b}, {r, gg, b + 1}};
          for (const auto& n : nb) {
            if (n[0] < 0 || n[0] > 31 || n[1] < 0 || n[1] > 31 || n[2] < 0 || n[2] > 31) continue;
            const int nc = CellOf(n[0], n[1], n[2]);
            if (gen[nc]) continue;
            map[nc] = map[cell];
            gen[nc] = cur;
            --remaining;
          }
        }
  }
  std::free(gen);
  *table = map;
  return S_OK;
}

HRESULT KVAPI KvDibQuantizePalette(BITMAPINFOHEADER* paletteDib, const BITMAPINFOHEADER* source,
                                   const BYTE* sourceBits, const RECT* rect, int32_t sourceStride, uint32_t mode) {
  if (!paletteDib || !source) return E_INVALIDARG;
  const int32_t srcType = KvGetPixelType(source), dstType = KvGetPixelType(paletteDib);
  if (static_cast<uint32_t>(srcType - 16) > 16u || (dstType != KVPT_PAL4 && dstType != KVPT_PAL8))
    return E_NOTIMPL;
  const uint32_t capacity = paletteDib->biClrUsed;
  if (capacity == 0) return E_INVALIDARG;

  // The rectangle, clipped to the source (y = 0 is the top row).
  const int32_t width = source->biWidth;
  const int32_t height = source->biHeight < 0 ? -source->biHeight : source->biHeight;
  RECT r = {0, 0, width, height};
  if (rect) {
    r.left = rect->left > 0 ? rect->left : 0;
    r.top = rect->top > 0 ? rect->top : 0;
    r.right = rect->right < width ? rect->right : width;
    r.bottom = rect->bottom < height ? rect->bottom : height;
  }
  if (r.left >= r.right || r.top >= r.bottom) return S_OK;

  BYTE* hist = static_cast<BYTE*>(KvImageAllocZeroed(KV_COLOR_CELLS));
  if (!hist) return E_OUTOFMEMORY;
  std::memset(hist, kEmpty, KV_COLOR_CELLS);

  KvXchgContext* x = new (std::nothrow) KvXchgContext;
  if (!x) {
    KvImageFree(hist);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = KvXCHGGetFunctionPointers(dstType, srcType, mode, x, nullptr, 0.0, 0.0);
  if (FAILED(hr)) {
    delete x;
    KvImageFree(hist);
    return hr;
  }
  const BYTE* bits = sourceBits ? sourceBits : KvDibGetBitsPtr(source);
  const int32_t stride = sourceStride ? sourceStride : static_cast<int32_t>(KvDibGetStride(source));
  if (source->biBitCount <= 8)
    x->sourcePalette = reinterpret_cast<const uint32_t*>(reinterpret_cast<const BYTE*>(source) + source->biSize);
  const int bpp = source->biBitCount;
  const bool topDown = source->biHeight < 0;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const BYTE* row = bits + int64_t(topDown ? y : height - 1 - y) * stride;
    const int64_t bitOffset = int64_t(r.left) * bpp;
    x->sourcePtr = row + bitOffset / 8;
    x->sourceBit = static_cast<uint32_t>(bitOffset % 8);
    for (int32_t px = r.left; px < r.right; ++px) {
      x->fetchOne(x);
      int cell;
      if (x->intermediateKind == KVXCHG_8BIT) {
        const uint8_t* s = x->Slot8(0);
        cell = CellOf(s[2] >> 3, s[1] >> 3, s[0] >> 3);
      } else {
        const uint16_t* s = x->Slot16(0);
        cell = CellOf(s[2] >> 11, s[1] >> 11, s[0] >> 11);
      }
      hist[cell] = kPresent;
    }
  }
  delete x;

  // Search the base sizes: for n = 2, 3, ... the seven patterns; keep the
  // largest box count that fits the palette. Beyond n = 33 the boxes no
  // longer change, so the search ends there; when no pattern fitted, the
  // smallest count is used and only its first boxes are written.
  int kept[3] = {0, 0, 0}, keptCount = 0;
  int fewest[3] = {0, 0, 0}, fewestCount = 0;
  for (int n = 2; n <= 33 && keptCount == 0; ++n) {
    const int m = n - 1;
    const int patterns[7][4] = {{n, m, m, 1}, {m, n, m, 2}, {m, m, n, 3}, {n, n, m, 1},
                                {n, m, n, 2}, {m, n, n, 3}, {n, n, n, 4}};
    for (const auto& p : patterns) {
      const int count = Partition(hist, p, static_cast<BYTE>(p[3]), nullptr, 0);
      if (count > 0 && (fewestCount == 0 || count < fewestCount)) {
        fewestCount = count;
        std::memcpy(fewest, p, sizeof(fewest));
      }
      if (count > 0 && static_cast<uint32_t>(count) <= capacity && count > keptCount) {
        keptCount = count;
        std::memcpy(kept, p, sizeof(kept));
      }
    }
  }
  if (keptCount == 0) std::memcpy(kept, fewest, sizeof(kept));
  RGBQUAD* pal = reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(paletteDib) + paletteDib->biSize);
  Partition(hist, kept, 5, pal, static_cast<int>(capacity > 256 ? 256 : capacity));
  KvImageFree(hist);
  return S_OK;
}
