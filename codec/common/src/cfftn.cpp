// Mixed-radix complex FFT in place, decimation in frequency with Singleton's
// factor ordering, followed by the digit-reversal permutation; the real-input
// FFT on top of it.
#include "cfftn.h"

#include <cmath>

#include "utillib.h"
#include "vecmath.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// One strided complex sequence. kStride is the distance of its elements in
// floats when known at compile time (1: split arrays, 2: interleaved pairs),
// 0 when it is only known at run time.
template <int kStride>
struct Seq {
  float* re;
  float* im;
  int32_t stride;  // in floats
  intptr_t at(int32_t i) const {
    return static_cast<intptr_t>(i) * (kStride ? kStride : stride);
  }
  float& r(int32_t i) const { return re[at(i)]; }
  float& m(int32_t i) const { return im[at(i)]; }
};

struct Plan {
  int32_t n;
  int32_t count;                 // number of factors
  int32_t squares;               // square factors at each end
  int32_t factors[32];
  int32_t middleProduct;         // product of the square-free middle factors
};

// Factor list: square factors (4 for each 16, j for each j*j), the
// square-free rest, then the square factors again in reverse order.
bool makePlan(int32_t n, Plan* plan) {
  plan->n = n;
  plan->count = cfftnFactor(n, plan->factors, &plan->squares);
  if (plan->count == 0) return false;
  if (plan->count > kCfftnMaxFactors) return false;
  for (int i = 0; i < plan->count; ++i)
    if (plan->factors[i] > kCfftnMaxOddFactor) return false;
  plan->middleProduct = 1;
  for (int i = plan->squares; i < plan->count - plan->squares; ++i)
    plan->middleProduct *= plan->factors[i];
  int middleCount = plan->count - 2 * plan->squares;
  if (middleCount >= 2 && plan->middleProduct - 1 > kCfftnMaxSquareFree - 1) return false;
  return true;
}

// One pass with radix r over blocks of `len` points (sub = len / r). R is
// the radix when it has a butterfly of its own (2, 3, 4, 5), so that the
// compiler keeps the butterfly in registers; 0 for the general odd one.
template <int R, class S>
void radixPass(const S& s, int32_t n, int32_t len, int32_t r, int32_t sign) {
  constexpr int kSlots = R ? R : kCfftnMaxOddFactor;
  const int32_t sub = len / r;
  const double angle = sign * 2.0 * kPi / len;
  // Rotation w^j by a recurrence, renormalised every step.
  const double c1 = std::cos(angle), s1 = std::sin(angle);
  double wc = 1.0, ws = 0.0;
  // Constants of the odd butterflies.
  const float sin60 = static_cast<float>(sign * std::sin(kPi / 3.0));
  const float c72 = static_cast<float>(std::cos(2.0 * kPi / 5.0));
  const float c144 = static_cast<float>(std::cos(4.0 * kPi / 5.0));
  const float s72 = static_cast<float>(sign * std::sin(2.0 * kPi / 5.0));
  const float s144 = static_cast<float>(sign * std::sin(4.0 * kPi / 5.0));
  double gc[kCfftnMaxOddFactor], gs[kCfftnMaxOddFactor];
  if (R == 0) {
    for (int t = 0; t < r; ++t) {
      gc[t] = std::cos(2.0 * kPi * t / r);
      gs[t] = sign * std::sin(2.0 * kPi * t / r);
    }
  }
  for (int32_t j = 0; j < sub; ++j) {
    // Powers w^t, t = 0 .. r-1, of the rotation of this column.
    float tr[kSlots], ti[kSlots];
    {
      double pc = 1.0, ps = 0.0;
      for (int t = 0; t < r; ++t) {
        tr[t] = static_cast<float>(pc);
        ti[t] = static_cast<float>(ps);
        double nc = pc * wc - ps * ws;
        ps = pc * ws + ps * wc;
        pc = nc;
      }
    }
    const bool rotate = j != 0;
    for (int32_t base = j; base < n; base += len) {
      float yr[kSlots], yi[kSlots];
      if constexpr (R == 2) {
        float ar = s.r(base), ai = s.m(base), br = s.r(base + sub), bi = s.m(base + sub);
        yr[0] = ar + br; yi[0] = ai + bi;
        yr[1] = ar - br; yi[1] = ai - bi;
      } else if constexpr (R == 3) {
        float x0r = s.r(base), x0i = s.m(base);
        float x1r = s.r(base + sub), x1i = s.m(base + sub);
        float x2r = s.r(base + 2 * sub), x2i = s.m(base + 2 * sub);
        float tr_ = x1r + x2r, ti_ = x1i + x2i;
        float dr = x1r - x2r, di = x1i - x2i;
        yr[0] = x0r + tr_; yi[0] = x0i + ti_;
        float mr = x0r - 0.5f * tr_, mi = x0i - 0.5f * ti_;
        // X1 = m + i*sin60*d (sin60 carries the sign), X2 = m - i*sin60*d
        yr[1] = mr - sin60 * di; yi[1] = mi + sin60 * dr;
        yr[2] = mr + sin60 * di; yi[2] = mi - sin60 * dr;
      } else if constexpr (R == 4) {
        float x0r = s.r(base), x0i = s.m(base);
        float x1r = s.r(base + sub), x1i = s.m(base + sub);
        float x2r = s.r(base + 2 * sub), x2i = s.m(base + 2 * sub);
        float x3r = s.r(base + 3 * sub), x3i = s.m(base + 3 * sub);
        float a0r = x0r + x2r, a0i = x0i + x2i, a1r = x0r - x2r, a1i = x0i - x2i;
        float a2r = x1r + x3r, a2i = x1i + x3i, a3r = x1r - x3r, a3i = x1i - x3i;
        yr[0] = a0r + a2r; yi[0] = a0i + a2i;
        yr[2] = a0r - a2r; yi[2] = a0i - a2i;
        if (sign < 0) {  // X1 = a1 - i a3, X3 = a1 + i a3
          yr[1] = a1r + a3i; yi[1] = a1i - a3r;
          yr[3] = a1r - a3i; yi[3] = a1i + a3r;
        } else {
          yr[1] = a1r - a3i; yi[1] = a1i + a3r;
          yr[3] = a1r + a3i; yi[3] = a1i - a3r;
        }
      } else if constexpr (R == 5) {
        float x0r = s.r(base), x0i = s.m(base);
        float x1r = s.r(base + sub), x1i = s.m(base + sub);
        float x2r = s.r(base + 2 * sub), x2i = s.m(base + 2 * sub);
        float x3r = s.r(base + 3 * sub), x3i = s.m(base + 3 * sub);
        float x4r = s.r(base + 4 * sub), x4i = s.m(base + 4 * sub);
        float t1r = x1r + x4r, t1i = x1i + x4i, t2r = x2r + x3r, t2i = x2i + x3i;
        float t3r = x1r - x4r, t3i = x1i - x4i, t4r = x2r - x3r, t4i = x2i - x3i;
        yr[0] = x0r + t1r + t2r; yi[0] = x0i + t1i + t2i;
        float a1r = x0r + c72 * t1r + c144 * t2r, a1i = x0i + c72 * t1i + c144 * t2i;
        float a2r = x0r + c144 * t1r + c72 * t2r, a2i = x0i + c144 * t1i + c72 * t2i;
        // b terms: X1 = a1 + i*b1, X4 = a1 - i*b1 with b1 = s72 t3 + s144 t4
        // (the sines carry the sign), X2 = a2 + i*b2, X3 = a2 - i*b2.
        float b1r = s72 * t3r + s144 * t4r, b1i = s72 * t3i + s144 * t4i;
        float b2r = s144 * t3r - s72 * t4r, b2i = s144 * t3i - s72 * t4i;
        yr[1] = a1r - b1i; yi[1] = a1i + b1r;
        yr[4] = a1r + b1i; yi[4] = a1i - b1r;
        yr[2] = a2r - b2i; yi[2] = a2i + b2r;
        yr[3] = a2r + b2i; yi[3] = a2i - b2r;
      } else {
        float xr[kCfftnMaxOddFactor], xi[kCfftnMaxOddFactor];
        for (int q = 0; q < r; ++q) {
          xr[q] = s.r(base + q * sub);
          xi[q] = s.m(base + q * sub);
        }
        for (int t = 0; t < r; ++t) {
          double sr = 0.0, si = 0.0;
          int idx = 0;
          for (int q = 0; q < r; ++q) {
            sr += xr[q] * gc[idx] - xi[q] * gs[idx];
            si += xr[q] * gs[idx] + xi[q] * gc[idx];
            idx += t;
            if (idx >= r) idx -= r;
          }
          yr[t] = static_cast<float>(sr);
          yi[t] = static_cast<float>(si);
        }
      }
      s.r(base) = yr[0];
      s.m(base) = yi[0];
      const int count = R ? R : r;
      for (int t = 1; t < count; ++t) {
        float vr = yr[t], vi = yi[t];
        if (rotate) {
          float nr = vr * tr[t] - vi * ti[t];
          vi = vr * ti[t] + vi * tr[t];
          vr = nr;
        }
        s.r(base + t * sub) = vr;
        s.m(base + t * sub) = vi;
      }
    }
    double nc = wc * c1 - ws * s1;
    ws = wc * s1 + ws * c1;
    wc = nc;
    double norm = 2.0 - (wc * wc + ws * ws);
    wc *= norm;
    ws *= norm;
  }
}

template <class S>
inline void swapPoint(const S& s, int32_t a, int32_t b) {
  float t = s.r(a); s.r(a) = s.r(b); s.r(b) = t;
  t = s.m(a); s.m(a) = s.m(b); s.m(b) = t;
}

// After the passes, the value of X[k] lies at the position whose digits
// (first factor most significant) are those of k read the other way round.
// The outer (square) digits are exchanged pairwise; the square-free middle
// digits, when there are several, are permuted by following cycles.
template <class S>
void permute(const S& s, const Plan& p) {
  const int m = p.count;
  int32_t weight[32];  // W_i: weight of digit i in the position
  weight[m - 1] = 1;
  for (int i = m - 2; i >= 0; --i) weight[i] = weight[i + 1] * p.factors[i + 1];
  int32_t target[32];  // weight of digit i after the outer exchange
  for (int i = 0; i < m; ++i) {
    bool outer = i < p.squares || i >= m - p.squares;
    target[i] = outer ? weight[m - 1 - i] : weight[i];
  }
  int32_t digit[32] = {0};
  int32_t mapped = 0;
  for (int32_t pos = 0; pos < p.n; ++pos) {
    if (mapped > pos) swapPoint(s, pos, mapped);
    // Advance the mixed-radix counter of pos and its image.
    for (int i = m - 1; i >= 0; --i) {
      ++digit[i];
      mapped += target[i];
      if (digit[i] < p.factors[i]) break;
      mapped -= digit[i] * target[i];
      digit[i] = 0;
    }
  }
  const int middleCount = m - 2 * p.squares;
  if (middleCount < 2) return;
  // Middle permutation: middle value b (first middle factor most
  // significant) moves to its digit-reversed value.
  const int32_t P = p.middleProduct;
  int16_t next[kCfftnMaxSquareFree];
  bool seen[kCfftnMaxSquareFree];
  const int first = p.squares, last = m - 1 - p.squares;
  for (int32_t b = 0; b < P; ++b) {
    // Digits of b, the first middle factor most significant.
    int32_t rest = b, value = 0, w = 1;
    int32_t digits[32];
    for (int i = last; i >= first; --i) {
      digits[i] = rest % p.factors[i];
      rest /= p.factors[i];
    }
    for (int i = first; i <= last; ++i) {
      value += digits[i] * w;
      w *= p.factors[i];
    }
    next[b] = static_cast<int16_t>(value);
    seen[b] = false;
  }
  const int32_t low = weight[last];          // size of the low outer block
  const int32_t highCount = p.n / (P * low);  // values of the high outer block
  for (int32_t b = 0; b < P; ++b) {
    if (seen[b]) continue;
    int32_t cur = b;
    do {
      seen[cur] = true;
      cur = next[cur];
    } while (cur != b);
    if (next[b] == b) continue;
    for (int32_t hi = 0; hi < highCount; ++hi) {
      for (int32_t lo = 0; lo < low; ++lo) {
        const int32_t base = hi * P * low + lo;
        float cr = s.r(base + b * low), ci = s.m(base + b * low);
        int32_t at = b;
        do {
          int32_t to = next[at];
          float tr = s.r(base + to * low), ti = s.m(base + to * low);
          s.r(base + to * low) = cr;
          s.m(base + to * low) = ci;
          cr = tr;
          ci = ti;
          at = to;
        } while (at != b);
      }
    }
  }
}

template <class S>
void transformOne(const S& s, const Plan& p, int32_t sign) {
  int32_t len = p.n;
  for (int i = 0; i < p.count; ++i) {
    switch (p.factors[i]) {
      case 2: radixPass<2>(s, p.n, len, 2, sign); break;
      case 3: radixPass<3>(s, p.n, len, 3, sign); break;
      case 4: radixPass<4>(s, p.n, len, 4, sign); break;
      case 5: radixPass<5>(s, p.n, len, 5, sign); break;
      default: radixPass<0>(s, p.n, len, p.factors[i], sign); break;
    }
    len /= p.factors[i];
  }
  permute(s, p);
}

}  // namespace

int cfftnFactor(int32_t n, int32_t* f, int32_t* squareCount) {
  if (n < 2) {
    if (squareCount) *squareCount = 0;
    return 0;
  }
  int m = 0;
  int32_t k = n;
  while (k % 16 == 0) {
    f[m++] = 4;
    k /= 16;
  }
  for (int32_t j = 3; int64_t{j} * j <= k; j += 2) {
    while (k % (j * j) == 0) {
      if (m >= 32) return 32;
      f[m++] = j;
      k /= j * j;
    }
  }
  if (k <= 4) {
    int kt = m;
    if (k != 1) f[m++] = k;
    for (int i = kt - 1; i >= 0; --i) f[m++] = f[i];
    if (squareCount) *squareCount = kt;
    return m;
  }
  if (k % 4 == 0) {
    f[m++] = 2;
    k /= 4;
  }
  int kt = m;
  for (int32_t j = 2; j <= k; j = (j == 2) ? 3 : j + 2) {
    if (j > kCfftnMaxOddFactor) {
      // What is left has only factors above the limit: one factor stands
      // for it (the length is refused either way), instead of a search
      // that could run up to 2^31.
      if (m >= 32) return 32;
      f[m++] = k;
      break;
    }
    if (k % j == 0) {
      if (m >= 32) return 32;  // cannot happen for 32-bit n; refused as too many
      f[m++] = j;
      k /= j;
    }
  }
  if (m + kt > 32) return 32;
  for (int i = kt - 1; i >= 0; --i) f[m++] = f[i];
  if (squareCount) *squareCount = kt;
  return m;
}


int cfftnRadix(float* imag, float* real, int32_t total, int32_t n, int32_t span,
               int32_t increment) {
  if (n < 2 || !imag || !real || increment == 0) return 0;
  if (total < n || span < n || span % n != 0 || total % span != 0) return 0;
  Plan plan;
  if (!makePlan(n, &plan)) return 0;
  const int32_t sign = increment < 0 ? -1 : 1;
  const int32_t inc = increment < 0 ? -increment : increment;
  const int32_t spacing = span / n;
  for (int32_t block = 0; block < total; block += span) {
    for (int32_t offset = 0; offset < spacing; ++offset) {
      intptr_t first = static_cast<intptr_t>(block + offset) * inc;
      const int32_t stride = inc * spacing;
      if (stride == 1)
        transformOne(Seq<1>{real + first, imag + first, 1}, plan, sign);
      else if (stride == 2)
        transformOne(Seq<2>{real + first, imag + first, 2}, plan, sign);
      else
        transformOne(Seq<0>{real + first, imag + first, stride}, plan, sign);
    }
  }
  return 1;
}

int cfftnInterleaved(float* data, int32_t n, int32_t sign) {
  if (!data) return 0;
  return cfftnRadix(data + 1, data, n, n, n, 2 * sign);
}

int cfftnSplit(float* real, float* imag, int32_t n, int32_t sign) {
  return cfftnRadix(imag, real, n, n, n, sign);
}

int cfftnCopy(const float* srcReal, const float* srcImag, float* dstReal, float* dstImag,
              int32_t n, int32_t sign) {
  vecCopy(srcReal, dstReal, n);
  vecCopy(srcImag, dstImag, n);
  return cfftnRadix(dstImag, dstReal, n, n, n, sign);
}

float* rfftnCreateTable(int32_t n) {
  if (n < 2 || n > (1 << 28)) return nullptr;
  int32_t count = n / 2 + 1;
  // cos(2 pi k / n) is table[n/4 + k] only when 4 divides n; otherwise the
  // cosines for k = 0 .. n/4 follow the sines.
  int32_t extra = (n % 4 == 0) ? 0 : n / 4 + 1;
  float* table = static_cast<float*>(
      utilMalloc(static_cast<uint32_t>(count + extra) * sizeof(float), "cfftn", 920));
  if (!table) return nullptr;
  for (int32_t k = 0; k < count; ++k)
    table[k] = static_cast<float>(std::sin(2.0 * kPi * k / n));
  for (int32_t k = 0; k < extra; ++k)
    table[count + k] = static_cast<float>(std::cos(2.0 * kPi * k / n));
  return table;
}

void rfftnDeleteTable(float* table) { utilFree(table, "cfftn", 932); }

namespace {

// The split between the real transform of n points and the complex transform
// of n/2 points, on the interleaved data: after the complex transform in the
// forward direction, before it in the inverse one; every output is scaled by
// w (the forward direction leaves the first pair unscaled).
template <bool Forward>
void untangle(float* data, const float* table, const float* cosines, int32_t half, int32_t quarter, float w) {
  float a = data[0], b = data[1];
  data[0] = Forward ? a + b : w * (a + b);
  data[1] = Forward ? a - b : w * (a - b);
  for (int32_t k = 1; k <= quarter; ++k) {
    const int32_t j = half - k;
    const float s = table[k], c = cosines[k];
    float r1 = data[2 * k], i1 = data[2 * k + 1];
    float r2 = data[2 * j], i2 = data[2 * j + 1];
    float d = r1 - r2, e = i1 + i2, f = r1 + r2, g = i1 - i2;
    float p = Forward ? s * d - c * e : s * d + c * e;
    float q = Forward ? c * d + s * e : s * e - c * d;
    data[2 * k] = w * (f - p);
    data[2 * k + 1] = w * (g - q);
    data[2 * j] = w * (f + p);
    data[2 * j + 1] = -w * (g + q);
  }
}

}  // namespace

int rfftn(float* data, const float* table, int32_t n, int32_t direction) {
  if (!data || !table || n < 2 || (n & 1) != 0) return 0;
  if (direction != -1 && direction != 1) return 0;
  const int32_t half = n / 2;
  const int32_t quarter = n / 4;
  const float* cosines = (n % 4 == 0) ? table + quarter : table + half + 1;
  // A length the complex transform refuses leaves the data untouched.
  Plan plan;
  if (half >= 2 && !makePlan(half, &plan)) return 0;
  int result = 1;
  if (direction == -1) {
    // The inner transform of one point is the identity.
    if (half >= 2) result = cfftnInterleaved(data, half, -1);
    if (!result) return 0;
    untangle<true>(data, table, cosines, half, quarter, 0.5f);
  } else {
    untangle<false>(data, table, cosines, half, quarter, 1.0f / static_cast<float>(n));
    if (half >= 2) result = cfftnInterleaved(data, half, 1);
  }
  return result;
}
