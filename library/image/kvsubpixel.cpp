// Sub-pixel geometry, the enlarging (bilinear) driver and the box filters of
// the reducing paths, for 8-bit and float BGRA pixels.
#include "kvsubpixel.h"

#include "kvimagecpu.h"
#include "kvparallel.h"
#include "kvscalecommon.h"

#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using namespace kvscale;

// Pixel layouts: four bytes or four floats.
struct Px8 {
  static constexpr int kBytes = 4;
  using Acc = int64_t;
  static void Load(const BYTE* p, Acc out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = p[i];
  }
  // The four-tap bilinear sample with truncated 14-bit weights.
  static void Bilinear(const BYTE* p00, const BYTE* p01, const BYTE* p10, const BYTE* p11, int32_t fx, int32_t wy,
                       Acc out[4]) {
    const int64_t w00 = (int64_t(kOne - wy) * (kOne - fx)) / kOne, w01 = (int64_t(kOne - wy) * fx) / kOne,
                  w10 = (int64_t(wy) * (kOne - fx)) / kOne, w11 = (int64_t(wy) * fx) / kOne;
    for (int i = 0; i < 4; ++i) out[i] = (p00[i] * w00 + p01[i] * w01 + p10[i] * w10 + p11[i] * w11) >> 14;
  }
  static Acc Interp(Acc a, Acc b, int32_t f) { return (a * (kOne - f) + b * f) / kOne; }
  static Acc Divide(Acc sum, int64_t d) { return sum / d; }
  static void Put(BYTE* d, const Acc v[4], int64_t a, bool noBlend) { PutBlend8(d, v, a, noBlend); }
};

struct PxF {
  static constexpr int kBytes = 16;
  using Acc = double;
  static void Load(const BYTE* p, Acc out[4]) {
    float f[4];
    std::memcpy(f, p, 16);
    for (int i = 0; i < 4; ++i) out[i] = f[i];
  }
  static void Bilinear(const BYTE* p00, const BYTE* p01, const BYTE* p10, const BYTE* p11, int32_t fx, int32_t wy,
                       Acc out[4]) {
    float a[4], b[4], c[4], d[4];
    std::memcpy(a, p00, 16);
    std::memcpy(b, p01, 16);
    std::memcpy(c, p10, 16);
    std::memcpy(d, p11, 16);
    const float wx1 = fx / 16384.0f, wx0 = 1.0f - wx1, wy1 = wy / 16384.0f, wy0 = 1.0f - wy1;
    for (int i = 0; i < 4; ++i) out[i] = (a[i] * wx0 + b[i] * wx1) * wy0 + (c[i] * wx0 + d[i] * wx1) * wy1;
  }
  static Acc Interp(Acc a, Acc b, int32_t f) { return a + (b - a) * (f / 16384.0); }
  static Acc Divide(Acc sum, int64_t d) { return sum / double(d); }
  static void Put(BYTE* d, const Acc v[4], int64_t a, bool noBlend) { PutBlendF(d, v, a, noBlend); }
};

struct Geometry {
  const KvSubpixelParam& p;
  Axis cols, rows;
  int32_t lastSrcCol, lastSrcRow;
  bool noBlend;
  explicit Geometry(const KvSubpixelParam& param, bool nb) : p(param), noBlend(nb) {
    cols = MakeAxis(p.dstClip.left, p.dstClip.right);
    rows = MakeAxis(p.dstClip.top, p.dstClip.bottom);
    lastSrcCol = (Ceil(p.srcRead.right) >> 14) - 1;
    lastSrcRow = (Ceil(p.srcRead.bottom) >> 14) - 1;
  }
  template <class P>
  const BYTE* Src(int32_t row, int32_t col) const {
    return p.srcBits + int64_t(row) * p.srcStride + int64_t(col) * P::kBytes;
  }
  template <class P>
  BYTE* Dst(int32_t row, int32_t col) const {
    return p.dstBits + int64_t(row) * p.dstStride + int64_t(col) * P::kBytes;
  }
  // A source position as an index and fraction, the neighbour being the
  // pixel itself at the last index.
  static void Split(int64_t pos, int32_t last, int32_t* i, int32_t* i1, int32_t* f) {
    int64_t idx = pos >> 14;
    int32_t fr = static_cast<int32_t>(pos & 16383);
    if (idx >= last) {
      idx = last;
      fr = 0;
    }
    if (idx < 0) idx = 0;
    *i = static_cast<int32_t>(idx);
    *i1 = *i < last ? *i + 1 : *i;
    *f = fr;
  }
};

// One destination pixel of the enlarging path: column c of destination row
// dy, source rows ry and ry1 with vertical weight wy, row coverage rowCov.
template <class P>
void EnlargePixel(const Geometry& g, int32_t c, int32_t ix, int32_t ix1, int32_t fx, int32_t ry, int32_t ry1,
                  int32_t wy, int32_t rowCov, int32_t dy) {
  typename P::Acc v[4];
  P::Bilinear(g.Src<P>(ry, ix), g.Src<P>(ry, ix1), g.Src<P>(ry1, ix), g.Src<P>(ry1, ix1), fx, wy, v);
  const int64_t a = (int64_t(g.cols.Coverage(c)) * rowCov) >> 14;
  P::Put(g.Dst<P>(dy, g.cols.first + c), v, a, g.noBlend);
}

// One destination row of the enlarging path at source position ypos.
template <class P>
void EnlargeRow(const Geometry& g, int32_t k, int64_t ypos) {
  int32_t ry, ry1, wy;
  Geometry::Split(ypos, g.lastSrcRow, &ry, &ry1, &wy);
  const int32_t rowCov = g.rows.Coverage(k);
  const int32_t dy = g.rows.first + k;
  for (int32_t c = 0; c < g.cols.count(); ++c) {
    int32_t ix, ix1, fx;
    Geometry::Split(g.cols.Position(c, g.p.srcRead.left, g.p.endStepX), g.lastSrcCol, &ix, &ix1, &fx);
    EnlargePixel<P>(g, c, ix, ix1, fx, ry, ry1, wy, rowCov, dy);
  }
}

// The source columns of a destination column: the pixel, its right
// neighbour (the pixel itself at the last column) and the fraction between.
struct ColumnTap {
  int32_t ix, ix1, fx;
};

// The interior columns of an interior row of 8-bit pixels (full coverage, so
// the values are stored): count pixels at dst from source rows row0 (weight
// 16384 - wy) and row1 (weight wy), with the weights of the edge-row kernel,
// each truncated, and the sum shifted right by 14.
using InteriorColumns = void (*)(BYTE* dst, const BYTE* row0, const BYTE* row1, const ColumnTap* taps,
                                 int32_t count, int32_t wy);

void InteriorColumnsPlain(BYTE* d, const BYTE* row0, const BYTE* row1, const ColumnTap* taps, int32_t count,
                          int32_t wy) {
  const int32_t wy0 = kOne - wy;
  for (int32_t i = 0; i < count; ++i, d += 4) {
    const ColumnTap& t = taps[i];
    const int32_t w00 = (wy0 * (kOne - t.fx)) >> 14, w01 = (wy0 * t.fx) >> 14;
    const int32_t w10 = (wy * (kOne - t.fx)) >> 14, w11 = (wy * t.fx) >> 14;
    const BYTE *p00 = row0 + int64_t(t.ix) * 4, *p01 = row0 + int64_t(t.ix1) * 4;
    const BYTE *p10 = row1 + int64_t(t.ix) * 4, *p11 = row1 + int64_t(t.ix1) * 4;
    // The weights add up to at most 16384: every value fits a byte.
    for (int ch = 0; ch < 4; ++ch)
      d[ch] = static_cast<BYTE>((p00[ch] * w00 + p01[ch] * w01 + p10[ch] * w10 + p11[ch] * w11) >> 14);
  }
}

#if defined(__SSE2__)

inline __m128i Load4(const BYTE* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

// One pixel's four channels (32-bit lanes): the left and right source pixels
// of both rows as 16-bit (left, right) pairs, one multiply-add a row.
inline __m128i InteriorPixel(const BYTE* row0, const BYTE* row1, const ColumnTap& t, int32_t wy0, int32_t wy) {
  const __m128i zero = _mm_setzero_si128();
  const int32_t w00 = (wy0 * (kOne - t.fx)) >> 14, w01 = (wy0 * t.fx) >> 14;
  const int32_t w10 = (wy * (kOne - t.fx)) >> 14, w11 = (wy * t.fx) >> 14;
  const __m128i top =
      _mm_unpacklo_epi8(_mm_unpacklo_epi8(Load4(row0 + int64_t(t.ix) * 4), Load4(row0 + int64_t(t.ix1) * 4)), zero);
  const __m128i bottom =
      _mm_unpacklo_epi8(_mm_unpacklo_epi8(Load4(row1 + int64_t(t.ix) * 4), Load4(row1 + int64_t(t.ix1) * 4)), zero);
  const __m128i sum = _mm_add_epi32(_mm_madd_epi16(top, _mm_set1_epi32(w00 | (w01 << 16))),
                                    _mm_madd_epi16(bottom, _mm_set1_epi32(w10 | (w11 << 16))));
  return _mm_srli_epi32(sum, 14);
}

void InteriorColumnsSse2(BYTE* d, const BYTE* row0, const BYTE* row1, const ColumnTap* taps, int32_t count,
                         int32_t wy) {
  const int32_t wy0 = kOne - wy;
  int32_t i = 0;
  for (; i + 4 <= count; i += 4, d += 16) {
    const __m128i ab = _mm_packs_epi32(InteriorPixel(row0, row1, taps[i], wy0, wy),
                                       InteriorPixel(row0, row1, taps[i + 1], wy0, wy));
    const __m128i cd = _mm_packs_epi32(InteriorPixel(row0, row1, taps[i + 2], wy0, wy),
                                       InteriorPixel(row0, row1, taps[i + 3], wy0, wy));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(ab, cd));
  }
  InteriorColumnsPlain(d, row0, row1, taps + i, count - i, wy);
}

#endif

// The interior-row kernel for a processor feature word.
InteriorColumns InteriorColumnsFor(DWORD features) {
#if defined(__SSE2__)
  if (features & KVCPU_SSE2) return InteriorColumnsSse2;
#else
  (void)features;
#endif
  return InteriorColumnsPlain;
}

template <class P>
void Enlarge(const Geometry& g) {
  // Rows are independent: each writes only its own destination row. The
  // first and the last row are done on the calling thread, the rows between
  // them divided among the threads.
  const int32_t n = g.rows.count();
  auto position = [&g](int32_t k) { return g.rows.Position(k, g.p.srcRead.top, g.p.endStepY); };
  EnlargeRow<P>(g, 0, position(0));
  if (P::kBytes == 4 && n > 2) {  // (the float layout has no interior kernel)
    // Interior rows of 8-bit pixels: the first and last column as the edge
    // rows do them, the columns between by the interior kernel, chosen once
    // from the processor's features, with the source columns worked out
    // once for all rows.
    const InteriorColumns kernel = InteriorColumnsFor(KvImageCpu_GetSupport(0));
    const int32_t cols = g.cols.count();
    std::vector<ColumnTap> taps(static_cast<size_t>(cols));
    for (int32_t c = 0; c < cols; ++c) {
      ColumnTap& t = taps[static_cast<size_t>(c)];
      Geometry::Split(g.cols.Position(c, g.p.srcRead.left, g.p.endStepX), g.lastSrcCol, &t.ix, &t.ix1, &t.fx);
    }
    KvParallelRows(1, n - 1, [&](int32_t k) {
      int32_t ry, ry1, wy;
      Geometry::Split(position(k), g.lastSrcRow, &ry, &ry1, &wy);
      const int32_t dy = g.rows.first + k;
      const ColumnTap& first = taps.front();
      EnlargePixel<P>(g, 0, first.ix, first.ix1, first.fx, ry, ry1, wy, kOne, dy);
      if (cols > 2)
        kernel(g.Dst<P>(dy, g.cols.first + 1), g.Src<P>(ry, 0), g.Src<P>(ry1, 0), &taps[1], cols - 2, wy);
      if (cols > 1) {
        const ColumnTap& last = taps.back();
        EnlargePixel<P>(g, cols - 1, last.ix, last.ix1, last.fx, ry, ry1, wy, kOne, dy);
      }
    });
  } else {
    KvParallelRows(1, n - 1, [&g, &position](int32_t k) { EnlargeRow<P>(g, k, position(k)); });
  }
  if (n > 1) EnlargeRow<P>(g, n - 1, position(n - 1));
}

// Box taps of a span [start, start + span) of source pixels: index and
// weight (14 bits), clamped to the last source pixel.
struct Tap {
  int32_t index, weight;
};

void BoxTaps(int64_t start, int64_t span, int32_t last, std::vector<Tap>& taps) {
  taps.clear();
  const int64_t f = start & ~int64_t(16383), end = start + span, ce = ((end - 1) | 16383) + 1;
  auto add = [&](int64_t pos, int64_t w) {
    int64_t i = pos >> 14;
    if (i > last) i = last;
    if (i < 0) i = 0;
    taps.push_back({static_cast<int32_t>(i), static_cast<int32_t>(w)});
  };
  if (ce - kOne <= f) {
    add(f, span);
    return;
  }
  add(f, f + kOne - start);
  for (int64_t pos = f + kOne; pos < ce - kOne; pos += kOne) add(pos, kOne);
  add(ce - kOne, end - ce + kOne);
}

// Stores a box result: the sum divided by the span area, blended by coverage.
template <class P>
void PutBox(const Geometry& g, BYTE* d, typename P::Acc sum[4], int64_t area, int64_t coverage) {
  if (area <= 0) return;
  typename P::Acc v[4];
  for (int i = 0; i < 4; ++i) v[i] = P::Divide(sum[i], area);
  P::Put(d, v, coverage, g.noBlend);
}

// Reduced vertically (box), interpolated horizontally.
template <class P>
void BoxVertical(const Geometry& g) {
  std::vector<Tap> taps;
  int64_t y0 = g.p.srcRead.top;
  for (int32_t r = 0; r < g.rows.count(); ++r) {
    const int32_t rowCov = g.rows.Coverage(r);
    const int64_t span = (int64_t(rowCov) * g.p.scaleStepY) >> 14;
    BoxTaps(y0, span, g.lastSrcRow, taps);
    for (int32_t c = 0; c < g.cols.count(); ++c) {
      int32_t ix, ix1, fx;
      Geometry::Split(g.cols.Position(c, g.p.srcRead.left, g.p.endStepX), g.lastSrcCol, &ix, &ix1, &fx);
      typename P::Acc sum[4] = {0, 0, 0, 0};
      for (const Tap& t : taps) {
        typename P::Acc a[4], b[4];
        P::Load(g.Src<P>(t.index, ix), a);
        P::Load(g.Src<P>(t.index, ix1), b);
        for (int i = 0; i < 4; ++i) sum[i] += P::Interp(a[i], b[i], fx) * t.weight;
      }
      PutBox<P>(g, g.Dst<P>(g.rows.first + r, g.cols.first + c), sum, span,
                (int64_t(rowCov) * g.cols.Coverage(c)) >> 14);
    }
    y0 += span;
  }
}

// Reduced horizontally (box), interpolated vertically.
template <class P>
void BoxHorizontal(const Geometry& g) {
  std::vector<Tap> taps;
  for (int32_t r = 0; r < g.rows.count(); ++r) {
    int32_t ry, ry1, fy;
    Geometry::Split(g.rows.Position(r, g.p.srcRead.top, g.p.endStepY), g.lastSrcRow, &ry, &ry1, &fy);
    const int32_t rowCov = g.rows.Coverage(r);
    int64_t x0 = g.p.srcRead.left;
    for (int32_t c = 0; c < g.cols.count(); ++c) {
      const int32_t colCov = g.cols.Coverage(c);
      const int64_t span = (int64_t(colCov) * g.p.scaleStepX) >> 14;
      BoxTaps(x0, span, g.lastSrcCol, taps);
      typename P::Acc sum[4] = {0, 0, 0, 0};
      for (const Tap& t : taps) {
        typename P::Acc a[4], b[4];
        P::Load(g.Src<P>(ry, t.index), a);
        P::Load(g.Src<P>(ry1, t.index), b);
        for (int i = 0; i < 4; ++i) sum[i] += P::Interp(a[i], b[i], fy) * t.weight;
      }
      PutBox<P>(g, g.Dst<P>(g.rows.first + r, g.cols.first + c), sum, span, (int64_t(rowCov) * colCov) >> 14);
      x0 += span;
    }
  }
}

// Reduced on both axes: weights are products of the row and column weights.
template <class P>
void BoxBoth(const Geometry& g) {
  std::vector<Tap> rowTaps, colTaps;
  int64_t y0 = g.p.srcRead.top;
  for (int32_t r = 0; r < g.rows.count(); ++r) {
    const int32_t rowCov = g.rows.Coverage(r);
    const int64_t spanY = (int64_t(rowCov) * g.p.scaleStepY) >> 14;
    BoxTaps(y0, spanY, g.lastSrcRow, rowTaps);
    int64_t x0 = g.p.srcRead.left;
    for (int32_t c = 0; c < g.cols.count(); ++c) {
      const int32_t colCov = g.cols.Coverage(c);
      const int64_t spanX = (int64_t(colCov) * g.p.scaleStepX) >> 14;
      BoxTaps(x0, spanX, g.lastSrcCol, colTaps);
      typename P::Acc sum[4] = {0, 0, 0, 0};
      for (const Tap& rt : rowTaps) {
        typename P::Acc rowSum[4] = {0, 0, 0, 0};
        for (const Tap& ct : colTaps) {
          typename P::Acc px[4];
          P::Load(g.Src<P>(rt.index, ct.index), px);
          for (int i = 0; i < 4; ++i) rowSum[i] += px[i] * ct.weight;
        }
        for (int i = 0; i < 4; ++i) sum[i] += rowSum[i] * rt.weight;
      }
      PutBox<P>(g, g.Dst<P>(g.rows.first + r, g.cols.first + c), sum, spanX * spanY,
                (int64_t(rowCov) * colCov) >> 14);
      x0 += spanX;
    }
    y0 += spanY;
  }
}

template <class P>
void Scale(const KvSubpixelParam& p, const void* reduceOption, bool noBlend) {
  const Geometry g(p, noBlend);
  const bool reduceX = p.scaleStepX > kOne, reduceY = p.scaleStepY > kOne;
  if (reduceOption && reduceX && reduceY)
    BoxBoth<P>(g);
  else if (reduceOption && reduceY)
    BoxVertical<P>(g);
  else if (reduceOption && reduceX)
    BoxHorizontal<P>(g);
  else
    Enlarge<P>(g);
}

}  // namespace

bool KvSubpixelCopyUnscaled(const KvSubpixelParam& p, int32_t bytesPerPixel) {
  if (p.scaleStepX != kOne || p.scaleStepY != kOne) return false;
  const int32_t rows = Ceil(Height(p.dstClip)) >> 14;
  const int64_t bytes = int64_t(Ceil(Width(p.dstClip)) >> 14) * bytesPerPixel;
  if (bytes <= 0) return true;
  const BYTE* from = p.srcBits + int64_t(Floor(p.srcRead.top) >> 14) * p.srcStride +
                     int64_t(Floor(p.srcRead.left) >> 14) * bytesPerPixel;
  BYTE* to = p.dstBits + int64_t(Floor(p.dstClip.top) >> 14) * p.dstStride +
             int64_t(Floor(p.dstClip.left) >> 14) * bytesPerPixel;
  for (int32_t r = 0; r < rows; ++r, from += p.srcStride, to += p.dstStride)
    std::memmove(to, from, static_cast<size_t>(bytes));
  return true;
}

int32_t KvFixedDiv(int32_t a, int32_t b) {
  if (b == 0) return 0;
  const int64_t q = int64_t(a) * kOne / b;
  return q > INT32_MAX ? INT32_MAX : q < INT32_MIN ? INT32_MIN : static_cast<int32_t>(q);
}

int32_t KvFixedMul(int32_t a, int32_t b) { return static_cast<int32_t>((int64_t(a) * b) >> 14); }

int32_t KVAPI KvPrepareSubpixelParam(KvSubpixelParam* rec, BYTE* dstBits, const int32_t* dstSize, int32_t dstStride,
                                     const RECT* dstRect, const BYTE* srcBits, const int32_t* srcSize,
                                     int32_t srcStride, const RECT* srcRect) {
  if (!rec) return 0;
  std::memset(rec, 0, sizeof(*rec));
  if (!dstSize || !srcSize || dstSize[0] < 0 || dstSize[1] < 0 || srcSize[0] < 0 || srcSize[1] < 0 ||
      dstSize[0] > 131071 || dstSize[1] > 131071 || srcSize[0] > 131071 || srcSize[1] > 131071)
    return 0;
  const RECT dstAll = {0, 0, dstSize[0] * kOne, dstSize[1] * kOne};
  const RECT srcAll = {0, 0, srcSize[0] * kOne, srcSize[1] * kOne};
  const RECT D = dstRect ? *dstRect : dstAll;
  const RECT S = srcRect ? *srcRect : srcAll;
  rec->srcClip = Intersect(S, srcAll);
  if (Width(rec->srcClip) < kOne || Height(rec->srcClip) < kOne) return 0;
  if (int64_t(D.right) - D.left < 1024 || int64_t(D.bottom) - D.top < 1024) return 0;
  rec->scaleStepX = KvFixedDiv(Width(rec->srcClip), D.right - D.left);
  rec->scaleStepY = KvFixedDiv(Height(rec->srcClip), D.bottom - D.top);
  // A destination more than 16384 times larger than the source has no step.
  if (rec->scaleStepX <= 0 || rec->scaleStepY <= 0) return 0;
  rec->dstRect = D;
  rec->dstClip = Intersect(D, dstAll);
  if (Width(rec->dstClip) < 1024 || Height(rec->dstClip) < 1024) return 0;
  // The clipped source in destination space, cut to the clipped destination,
  // and back in source space: the area that is read.
  const RECT mapped = {D.left, D.top, D.left + KvFixedDiv(Width(rec->srcClip), rec->scaleStepX),
                       D.top + KvFixedDiv(Height(rec->srcClip), rec->scaleStepY)};
  const RECT inDst = Intersect(mapped, rec->dstClip);
  const RECT back = {rec->srcClip.left + KvFixedMul(inDst.left - D.left, rec->scaleStepX),
                     rec->srcClip.top + KvFixedMul(inDst.top - D.top, rec->scaleStepY),
                     rec->srcClip.left + KvFixedMul(inDst.right - D.left, rec->scaleStepX),
                     rec->srcClip.top + KvFixedMul(inDst.bottom - D.top, rec->scaleStepY)};
  rec->srcRead = Intersect(back, rec->srcClip);
  rec->dstBits = dstBits;
  rec->dstStride = dstStride;
  rec->srcBits = srcBits;
  rec->srcStride = srcStride;
  if (Width(rec->dstClip) >= 2 * kOne) {
    const int32_t s = KvFixedDiv(Width(rec->srcRead) - kOne, Width(rec->dstClip) - kOne);
    rec->endStepX = s < 0 ? 0 : s;
  }
  if (Height(rec->dstClip) >= 2 * kOne) {
    const int32_t s = KvFixedDiv(Height(rec->srcRead) - kOne, Height(rec->dstClip) - kOne);
    rec->endStepY = s < 0 ? 0 : s;
  }
  return 1;
}

HRESULT KVAPI KvDibScale_BilinearSubPixel(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride,
                                          const RECT* dstRect, const BYTE* srcBits, const int32_t* srcSize,
                                          int32_t srcStride, const RECT* srcRect, int32_t bytesPerPixel,
                                          const void* reduceOption, int32_t noBlend) {
  KvSubpixelParam p;
  if (!dstBits || !srcBits) return S_OK;
  if (!KvPrepareSubpixelParam(&p, dstBits, dstSize, dstStride, dstRect, srcBits, srcSize, srcStride, srcRect))
    return S_OK;
  // An empty read area (the source maps outside the clipped destination).
  if (Width(p.srcRead) <= 0 || Height(p.srcRead) <= 0) return S_OK;
  // Work lists are the only allocations: a failure is reported, never thrown
  // across the library's boundary.
  try {
    if (bytesPerPixel == 16)
      Scale<PxF>(p, reduceOption, noBlend != 0);
    else
      Scale<Px8>(p, reduceOption, noBlend != 0);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT KVAPI KvDibScale_Bilinear(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride, const RECT* dstRect,
                                  const BYTE* srcBits, const int32_t* srcSize, int32_t srcStride,
                                  const RECT* srcRect, int32_t bytesPerPixel, const void* reduceOption,
                                  int32_t noBlend) {
  RECT d, s;
  if ((dstRect && !ToFixed(dstRect, &d)) || (srcRect && !ToFixed(srcRect, &s))) return S_OK;
  KvSubpixelParam p;
  if (!dstBits || !srcBits) return S_OK;
  if (!KvPrepareSubpixelParam(&p, dstBits, dstSize, dstStride, dstRect ? &d : nullptr, srcBits, srcSize, srcStride,
                              srcRect ? &s : nullptr))
    return S_OK;
  if (KvSubpixelCopyUnscaled(p, bytesPerPixel)) return S_OK;
  return KvDibScale_BilinearSubPixel(dstBits, dstSize, dstStride, dstRect ? &d : nullptr, srcBits, srcSize,
                                     srcStride, srcRect ? &s : nullptr, bytesPerPixel, reduceOption, noBlend);
}
