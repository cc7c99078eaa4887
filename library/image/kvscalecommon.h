// Geometry shared by the scalers: 18.14 fixed-point rounding, rectangle
// intersection and the destination span of one axis with the coverage of
// its partly covered first and last pixels.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>

#include "kvbitmapinfo.h"

namespace kvscale {

constexpr int32_t kOne = 16384;

inline int32_t Floor(int32_t v) { return v & ~16383; }
inline int32_t Ceil(int32_t v) { return ((v - 1) | 16383) + 1; }
inline int32_t Frac(int32_t v) { return v & 16383; }

// Intersection of two rectangles; all zero when they do not overlap.
inline RECT Intersect(const RECT& a, const RECT& b) {
  RECT r = {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
            a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
  if (r.left >= r.right || r.top >= r.bottom) r = {0, 0, 0, 0};
  return r;
}

// A rectangle of whole pixels in 18.14 fixed point; false when it does not fit.
inline bool ToFixed(const RECT* in, RECT* out) {
  const int64_t v[4] = {int64_t(in->left) * kOne, int64_t(in->top) * kOne, int64_t(in->right) * kOne,
                        int64_t(in->bottom) * kOne};
  for (int64_t x : v)
    if (x < INT32_MIN || x > INT32_MAX) return false;
  *out = {static_cast<LONG>(v[0]), static_cast<LONG>(v[1]), static_cast<LONG>(v[2]), static_cast<LONG>(v[3])};
  return true;
}

inline int32_t Width(const RECT& r) { return r.right - r.left; }
inline int32_t Height(const RECT& r) { return r.bottom - r.top; }

// The destination span of one axis: pixels first..last, the coverage of the
// first and the last, and the positions of the interpolated source along it.
struct Axis {
  int32_t first = 0, last = 0;  // destination pixels
  int32_t covFirst = 0, covLast = 0;
  int32_t count() const { return last - first + 1; }
  int32_t Coverage(int32_t k) const {
    if (count() == 1) return covFirst;
    if (k == 0) return covFirst;
    if (k == count() - 1) return covLast;
    return kOne;
  }
  // Interpolated source position of destination pixel k, from start with the
  // end-point step.
  int64_t Position(int32_t k, int32_t start, int32_t step) const {
    if (k == 0) return start;
    int64_t p = int64_t(start) + ((int64_t(covFirst) * step) >> 14) + int64_t(k - 1) * step;
    if (k == count() - 1 && count() > 2) p += ((int64_t(step) * covLast) >> 14) - step;
    return p;
  }
};

inline Axis MakeAxis(int32_t lo, int32_t hi) {
  Axis a;
  a.first = Floor(lo) >> 14;
  a.last = (Ceil(hi) >> 14) - 1;
  a.covFirst = a.count() < 2 ? hi - lo : (a.first + 1) * kOne - lo;
  a.covLast = hi - Ceil(hi) + kOne;
  return a;
}

// Stores an 8-bit pixel covered by a (14 bits): a full or unblended pixel is
// stored, a partly covered one blended into the old one with a * 255 / 16384.
inline void PutBlend8(BYTE* d, const int64_t v[4], int64_t a, bool noBlend) {
  if (noBlend || a >= kOne) {
    for (int i = 0; i < 4; ++i) d[i] = static_cast<BYTE>(v[i] < 0 ? 0 : v[i] > 255 ? 255 : v[i]);
    return;
  }
  const int32_t alpha = static_cast<int32_t>((a * 255) / kOne);
  for (int i = 0; i < 4; ++i) {
    const int32_t n = static_cast<int32_t>(v[i] < 0 ? 0 : v[i] > 255 ? 255 : v[i]);
    const int32_t t = (n - d[i]) * alpha + 128;
    const int32_t r = d[i] + ((t + (t >> 8)) >> 8);
    d[i] = static_cast<BYTE>(r < 0 ? 0 : r > 255 ? 255 : r);
  }
}

// The float form: old + (new - old) * a / 16384, a plain store at full cover.
inline void PutBlendF(BYTE* d, const double v[4], int64_t a, bool noBlend) {
  float old[4], out[4];
  std::memcpy(old, d, 16);
  for (int i = 0; i < 4; ++i)
    out[i] = (noBlend || a >= kOne) ? static_cast<float>(v[i])
                                    : static_cast<float>(old[i] + (v[i] - old[i]) * (double(a) / kOne));
  std::memcpy(d, out, 16);
}

}  // namespace kvscale
