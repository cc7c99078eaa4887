// Bicubic scaling with 4096-phase weight tables.
#include "kvbicubic.h"

#include <climits>
#include <cstring>
#include <vector>

#include "kvparallel.h"
#include "kvscalecommon.h"

using namespace kvscale;

namespace {

struct Tables {
  float f[4096][4];
  int32_t i[4096][4];
  Tables() {
    // Keys cubic with a = -0.5 at distances t + 1, t, 1 - t and 2 - t.
    auto outer = [](double x) { return -0.5 * x * x * x + 2.5 * x * x - 4.0 * x + 2.0; };
    auto inner = [](double x) { return 1.5 * x * x * x - 2.5 * x * x + 1.0; };
    for (int k = 0; k < 4096; ++k) {
      const double t = k / 4096.0;
      const double w[4] = {outer(t + 1.0), inner(t), inner(1.0 - t), outer(2.0 - t)};
      for (int j = 0; j < 4; ++j) {
        f[k][j] = static_cast<float>(w[j]);
        i[k][j] = static_cast<int32_t>(f[k][j] * 16384.0f);  // truncated toward zero
      }
    }
  }
};

// Built once, on first use, safely under concurrent first calls.
const Tables& WeightTables() {
  static const Tables t;
  return t;
}

struct Setup {
  const KvSubpixelParam& p;
  Axis rows, cols;
  int32_t rowLo, rowHi, colLo, colHi;  // clipped source rows and columns
  int32_t bufferWidth;
  bool noBlend;
  int bytes;
  Setup(const KvSubpixelParam& param, int32_t width, bool nb, int px)
      : p(param), bufferWidth(width), noBlend(nb), bytes(px) {
    rows = MakeAxis(p.dstClip.top, p.dstClip.bottom);
    cols = MakeAxis(p.dstClip.left, p.dstClip.right);
    rowLo = Floor(p.srcClip.top) >> 14;
    rowHi = (Ceil(p.srcClip.bottom) >> 14) - 1;
    colLo = Floor(p.srcClip.left) >> 14;
    colHi = (Ceil(p.srcClip.right) >> 14) - 1;
  }
  const BYTE* Src(int32_t row, int32_t col) const {
    return p.srcBits + int64_t(row) * p.srcStride + int64_t(col) * bytes;
  }
  BYTE* Dst(int32_t k, int32_t c) const {
    return p.dstBits + int64_t(rows.first + k) * p.dstStride + int64_t(cols.first + c) * bytes;
  }
  int64_t Coverage(int32_t k, int32_t c) const { return (int64_t(cols.Coverage(c)) * rows.Coverage(k)) >> 14; }
  // Cubic taps around the source centre of destination pixel n on an axis:
  // samples i - 2 .. i + 1, phase from the fraction.
  static void Taps(int32_t start, int32_t step, int32_t n, int32_t idx[4], int32_t* phase) {
    const int64_t pos = int64_t(start) + step / 2 + 8192 + int64_t(n) * step;
    const int32_t i = static_cast<int32_t>(pos >> 14);
    for (int k = 0; k < 4; ++k) idx[k] = i - 2 + k;
    *phase = static_cast<int32_t>((pos & 16383) >> 2);
  }
  static int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }
  void RowTaps(int32_t k, int32_t idx[4], int32_t* phase) const {
    Taps(p.srcRead.top, p.scaleStepY, k, idx, phase);
    for (int j = 0; j < 4; ++j) idx[j] = Clamp(idx[j], rowLo, rowHi);
  }
  // Columns are used as they are while all four lie inside the buffer.
  void ColTaps(int32_t c, int32_t idx[4], int32_t* phase) const {
    Taps(p.srcRead.left, p.scaleStepX, c, idx, phase);
    if (!(idx[0] >= 0 && idx[3] + 1 <= bufferWidth))
      for (int j = 0; j < 4; ++j) idx[j] = Clamp(idx[j], colLo, colHi);
  }
};

// Box taps of [start, start + span) on an axis, clamped to lo..hi.
struct Tap {
  int32_t index, weight;
};
void Box(int64_t start, int64_t span, int32_t lo, int32_t hi, std::vector<Tap>& taps) {
  taps.clear();
  const int64_t f = start & ~int64_t(16383), end = start + span, ce = ((end - 1) | 16383) + 1;
  auto add = [&](int64_t pos, int64_t w) {
    int64_t i = pos >> 14;
    if (i > hi) i = hi;
    if (i < lo) i = lo;
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

inline void LoadF(const BYTE* p, double out[4]) {
  float f[4];
  std::memcpy(f, p, 16);
  for (int i = 0; i < 4; ++i) out[i] = f[i];
}

// Plain bicubic on both axes. Each destination row filters every source
// column it needs vertically once (rounded, as the horizontal pass expects)
// and then combines four of them per destination pixel.
template <bool Float>
void Plain(const Setup& s) {
  const Tables& t = WeightTables();
  const int32_t n = s.cols.count();
  std::vector<int32_t> colIdx(size_t(n) * 4), colPhase(n);
  int32_t lo = INT32_MAX, hi = INT32_MIN;
  for (int32_t c = 0; c < n; ++c) {
    s.ColTaps(c, &colIdx[size_t(c) * 4], &colPhase[c]);
    for (int j = 0; j < 4; ++j) {
      lo = colIdx[size_t(c) * 4 + j] < lo ? colIdx[size_t(c) * 4 + j] : lo;
      hi = colIdx[size_t(c) * 4 + j] > hi ? colIdx[size_t(c) * 4 + j] : hi;
    }
  }
  // Destination rows are independent and divided among the threads, each
  // with its own column buffer, allocated before the loop.
  const int threads = KvParallelThreads();
  std::vector<std::vector<double>> vfs(threads, std::vector<double>(Float ? size_t(hi - lo + 1) * 4 : 0));
  std::vector<std::vector<int64_t>> vis(threads, std::vector<int64_t>(Float ? 0 : size_t(hi - lo + 1) * 4));
  KvParallelRowsPerThread(0, s.rows.count(), threads, [&](int32_t k, int thread) {
    std::vector<double>& vf = vfs[thread];
    std::vector<int64_t>& vi = vis[thread];
    int32_t ri[4], rp;
    s.RowTaps(k, ri, &rp);
    for (int32_t col = lo; col <= hi; ++col) {
      if (Float) {
        double v[4] = {0, 0, 0, 0};
        for (int r = 0; r < 4; ++r) {
          double px[4];
          LoadF(s.Src(ri[r], col), px);
          for (int ch = 0; ch < 4; ++ch) v[ch] += px[ch] * t.f[rp][r];
        }
        std::memcpy(&vf[size_t(col - lo) * 4], v, sizeof(v));
      } else {
        int64_t v[4] = {0, 0, 0, 0};
        for (int r = 0; r < 4; ++r) {
          const BYTE* px = s.Src(ri[r], col);
          for (int ch = 0; ch < 4; ++ch) v[ch] += int64_t(px[ch]) * t.i[rp][r];
        }
        for (int ch = 0; ch < 4; ++ch) vi[size_t(col - lo) * 4 + ch] = (v[ch] + 8192) / 16384;
      }
    }
    for (int32_t c = 0; c < n; ++c) {
      const int32_t* ci = &colIdx[size_t(c) * 4];
      if (Float) {
        const float* wx = t.f[colPhase[c]];
        double out[4] = {0, 0, 0, 0};
        for (int j = 0; j < 4; ++j)
          for (int ch = 0; ch < 4; ++ch) out[ch] += vf[size_t(ci[j] - lo) * 4 + ch] * wx[j];
        PutBlendF(s.Dst(k, c), out, s.Coverage(k, c), s.noBlend);
      } else {
        const int32_t* wx = t.i[colPhase[c]];
        int64_t out[4] = {0, 0, 0, 0};
        for (int j = 0; j < 4; ++j)
          for (int ch = 0; ch < 4; ++ch) out[ch] += vi[size_t(ci[j] - lo) * 4 + ch] * wx[j];
        for (int ch = 0; ch < 4; ++ch) out[ch] = (out[ch] + 8192) / 16384;
        PutBlend8(s.Dst(k, c), out, s.Coverage(k, c), s.noBlend);
      }
    }
  });
}

// Area averaging on one reduced axis, the cubic on the other. vertical: the
// rows are averaged; otherwise the columns.
template <bool Float>
void Averaged(const Setup& s, bool vertical) {
  const Tables& t = WeightTables();
  std::vector<Tap> box;
  const int32_t step = vertical ? s.p.scaleStepY : s.p.scaleStepX;
  for (int32_t k = 0; k < s.rows.count(); ++k) {
    int32_t ri[4] = {0, 0, 0, 0}, rp = 0;
    if (vertical)
      Box(int64_t(s.p.srcRead.top) + int64_t(k) * step, step, s.rowLo, s.rowHi, box);
    else
      s.RowTaps(k, ri, &rp);
    for (int32_t c = 0; c < s.cols.count(); ++c) {
      int32_t ci[4] = {0, 0, 0, 0}, cp = 0;
      if (vertical)
        s.ColTaps(c, ci, &cp);
      else
        Box(int64_t(s.p.srcRead.left) + int64_t(c) * step, step, s.colLo, s.colHi, box);
      const int32_t phase = vertical ? cp : rp;
      double acc[4] = {0, 0, 0, 0};
      int64_t iacc[4] = {0, 0, 0, 0};
      for (int j = 0; j < 4; ++j) {
        // The box sum along the reduced axis at cubic tap j of the other.
        double fs[4] = {0, 0, 0, 0};
        int64_t is[4] = {0, 0, 0, 0};
        for (const Tap& b : box) {
          const BYTE* px = vertical ? s.Src(b.index, ci[j]) : s.Src(ri[j], b.index);
          if (Float) {
            double v[4];
            LoadF(px, v);
            for (int ch = 0; ch < 4; ++ch) fs[ch] += v[ch] * b.weight;
          } else {
            for (int ch = 0; ch < 4; ++ch) is[ch] += int64_t(px[ch]) * b.weight;
          }
        }
        for (int ch = 0; ch < 4; ++ch) {
          if (Float)
            acc[ch] += fs[ch] * t.f[phase][j];
          else
            iacc[ch] += is[ch] * t.i[phase][j];
        }
      }
      if (Float) {
        double out[4];
        for (int ch = 0; ch < 4; ++ch) out[ch] = acc[ch] / step;
        out[3] = out[3] < 0.0 ? 0.0 : out[3] > 1.0 ? 1.0 : out[3];
        PutBlendF(s.Dst(k, c), out, s.Coverage(k, c), s.noBlend);
      } else {
        int64_t out[4];
        for (int ch = 0; ch < 4; ++ch) out[ch] = ((iacc[ch] >> 14) + 8192) / step;
        PutBlend8(s.Dst(k, c), out, s.Coverage(k, c), s.noBlend);
      }
    }
  }
}

}  // namespace

const float* KvBicubicWeightsF(int32_t phase) { return WeightTables().f[phase & 4095]; }
const int32_t* KvBicubicWeights(int32_t phase) { return WeightTables().i[phase & 4095]; }

HRESULT KVAPI KvDibScale_BiCubicSubPixel(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride,
                                         const RECT* dstRect, const BYTE* srcBits, const int32_t* srcSize,
                                         int32_t srcStride, const RECT* srcRect, int32_t bytesPerPixel,
                                         const void* reduceOption, int32_t noBlend) {
  if (!dstBits || !srcBits) return S_OK;
  KvSubpixelParam p;
  if (!KvPrepareSubpixelParam(&p, dstBits, dstSize, dstStride, dstRect, srcBits, srcSize, srcStride, srcRect))
    return S_OK;
  if (Width(p.srcRead) <= 0 || Height(p.srcRead) <= 0) return S_OK;
  const bool reduceX = p.scaleStepX >= 16385, reduceY = p.scaleStepY >= 16385;
  if (reduceOption && reduceX && reduceY)
    return KvDibScale_BilinearSubPixel(dstBits, dstSize, dstStride, dstRect, srcBits, srcSize, srcStride, srcRect,
                                       bytesPerPixel, reduceOption, noBlend);
  const bool isFloat = bytesPerPixel == 16;
  const Setup s(p, srcSize[0], noBlend != 0, isFloat ? 16 : 4);
  // Work lists are the only allocations: a failure is reported, never thrown
  // across the library's boundary.
  try {
    if (reduceOption && (reduceX || reduceY)) {
      if (isFloat)
        Averaged<true>(s, reduceY);
      else
        Averaged<false>(s, reduceY);
    } else if (isFloat) {
      Plain<true>(s);
    } else {
      Plain<false>(s);
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT KVAPI KvDibScale_BiCubic(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride, const RECT* dstRect,
                                 const BYTE* srcBits, const int32_t* srcSize, int32_t srcStride, const RECT* srcRect,
                                 int32_t bytesPerPixel, const void* reduceOption, int32_t noBlend) {
  RECT d, s;
  if ((dstRect && !ToFixed(dstRect, &d)) || (srcRect && !ToFixed(srcRect, &s))) return S_OK;
  if (!dstBits || !srcBits) return S_OK;
  KvSubpixelParam p;
  if (!KvPrepareSubpixelParam(&p, dstBits, dstSize, dstStride, dstRect ? &d : nullptr, srcBits, srcSize, srcStride,
                              srcRect ? &s : nullptr))
    return S_OK;
  if (KvSubpixelCopyUnscaled(p, bytesPerPixel)) return S_OK;
  return KvDibScale_BiCubicSubPixel(dstBits, dstSize, dstStride, dstRect ? &d : nullptr, srcBits, srcSize, srcStride,
                                    srcRect ? &s : nullptr, bytesPerPixel, reduceOption, noBlend);
}
