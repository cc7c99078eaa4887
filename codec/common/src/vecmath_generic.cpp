// The generic vector routines: the definition of every operation.
//
// Element loops run from index 0 upwards and read an element's inputs before
// storing its result, so in-place calls (z == x) are fine. Float results are
// rounded to single precision once: arithmetic on two floats in single
// precision gives exactly the double-precision result rounded once.
#include <cmath>
#include <cstring>

#include "vecmath_kernels.h"

namespace {

inline intptr_t at(int32_t i, int32_t s) { return static_cast<intptr_t>(i) * s; }

template <class T, class F>
inline void binary(const T* x, const T* y, T* z, int32_t n, F f) {
  for (int32_t i = 0; i < n; ++i) z[i] = f(x[i], y[i]);
}
template <class T, class F>
inline void binaryS(const T* x, int32_t sx, const T* y, int32_t sy, T* z, int32_t sz, int32_t n,
                    F f) {
  for (int32_t i = 0; i < n; ++i) z[at(i, sz)] = f(x[at(i, sx)], y[at(i, sy)]);
}
template <class T, class U, class F>
inline void unary(const T* x, U* z, int32_t n, F f) {
  for (int32_t i = 0; i < n; ++i) z[i] = f(x[i]);
}
template <class T, class U, class F>
inline void unaryS(const T* x, int32_t sx, U* z, int32_t sz, int32_t n, F f) {
  for (int32_t i = 0; i < n; ++i) z[at(i, sz)] = f(x[at(i, sx)]);
}

// Integer arithmetic wraps modulo 2^32.
inline int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
// Truncating division. A zero divisor (excluded by the callers) gives 0 and
// -2147483648 / -1 wraps, instead of a processor fault.
inline int32_t safeDiv(int32_t a, int32_t b) {
  if (b == 0) return 0;
  if (b == -1) return wrapSub(0, a);
  return a / b;
}
inline int32_t iabs(int32_t x) {
  uint32_t m = static_cast<uint32_t>(x >> 31);
  return static_cast<int32_t>((static_cast<uint32_t>(x) ^ m) - m);
}

inline float fmin2(float x, float y) { return y >= x ? x : y; }
inline float fmax2(float x, float y) { return y <= x ? x : y; }
inline float fclip(float lo, float hi, float x) { return x < lo ? lo : (x > hi ? hi : x); }
inline int32_t iclip(int32_t lo, int32_t hi, int32_t x) { return x < lo ? lo : (x > hi ? hi : x); }
inline float fsign(float x) { return x >= 0.0f ? 1.0f : -1.0f; }
inline float fabsBits(float x) {
  uint32_t u;
  std::memcpy(&u, &x, 4);
  u &= 0x7FFFFFFFu;
  std::memcpy(&x, &u, 4);
  return x;
}
inline float roundHalfUp(float x) { return static_cast<float>(std::floor(static_cast<double>(x) + 0.5)); }
inline float truncToward0(float x) {
  double v = x;
  return static_cast<float>(v >= 0.0 ? std::floor(v) : -std::floor(-v));
}

// Round half away from zero of a value already known to lie within the
// 32-bit range after rounding, or saturate.
inline int32_t roundAway32(float x) {
  double v = x;
  if (v > 0.0) {
    double t = v + 0.5;
    return t >= 2147483648.0 ? INT32_MAX : static_cast<int32_t>(t);
  }
  double t = v - 0.5;
  return t <= -2147483649.0 ? INT32_MIN : static_cast<int32_t>(t);
}

constexpr double kLog2e = 1.4426950216293335;   // log2(e) as a float, used in double
constexpr double kLog10e = 0.4342944920063019;  // log10(e) as a float, used in double

inline float flog2(float x) {
  float ln = static_cast<float>(std::log(static_cast<double>(x)));
  return static_cast<float>(static_cast<double>(ln) * kLog2e);
}
inline float flog10(float x) {
  float ln = static_cast<float>(std::log(static_cast<double>(x)));
  return static_cast<float>(static_cast<double>(ln) * kLog10e);
}

}  // namespace

// ---- reductions -------------------------------------------------------------

float vecSumGeneric(const float* x, int32_t n) {
  float s = 0.0f;
  for (int32_t i = 0; i < n; ++i) s = s + x[i];
  return s;
}

// Starts from the first product (so that a single -0 product stays -0).
float vecDotProductGeneric(const float* x, const float* y, int32_t n) {
  if (n < 1) return 0.0f;
  float s = static_cast<float>(static_cast<double>(x[0]) * y[0]);
  for (int32_t i = 1; i < n; ++i)
    s = static_cast<float>(static_cast<double>(s) + static_cast<double>(x[i]) * y[i]);
  return s;
}

float vecDotProductStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy,
                                  int32_t n) {
  if (n < 1) return 0.0f;
  float s = static_cast<float>(static_cast<double>(x[0]) * y[0]);
  for (int32_t i = 1; i < n; ++i)
    s = static_cast<float>(static_cast<double>(s) +
                           static_cast<double>(x[at(i, sx)]) * y[at(i, sy)]);
  return s;
}

float vecEnergyGeneric(const float* x, int32_t n) {
  float s = 0.0f;
  for (int32_t i = 0; i < n; ++i)
    s = static_cast<float>(static_cast<double>(s) + static_cast<double>(x[i]) * x[i]);
  return s;
}

// n below 1 gives 0 without reading the arrays.
float vecSquaredDistanceGeneric(const float* x, const float* y, int32_t n) {
  float s = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    float d = x[i] - y[i];
    s = static_cast<float>(static_cast<double>(s) + static_cast<double>(d) * d);
  }
  return s;
}

float vecSquaredDistanceStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy,
                                       int32_t n) {
  float s = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    float d = x[at(i, sx)] - y[at(i, sy)];
    s = static_cast<float>(static_cast<double>(s) + static_cast<double>(d) * d);
  }
  return s;
}

// n below 1 gives 0 without reading the array.
float vecMinValueGeneric(const float* x, int32_t n) {
  if (n < 1) return 0.0f;
  float v = x[0];
  for (int32_t i = 1; i < n; ++i)
    if (x[i] < v) v = x[i];
  return v;
}

float vecMaxValueGeneric(const float* x, int32_t n) {
  if (n < 1) return 0.0f;
  float v = x[0];
  for (int32_t i = 1; i < n; ++i)
    if (x[i] > v) v = x[i];
  return v;
}

// ---- float arithmetic --------------------------------------------------------

void vecAddGeneric(const float* x, const float* y, float* z, int32_t n) {
  binary(x, y, z, n, [](float a, float b) { return a + b; });
}
void vecAddStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy, float* z,
                          int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, [](float a, float b) { return a + b; });
}
void vecAddScalarGeneric(float c, const float* x, float* z, int32_t n) {
  unary(x, z, n, [c](float a) { return a + c; });
}
void vecSubGeneric(const float* x, const float* y, float* z, int32_t n) {
  binary(x, y, z, n, [](float a, float b) { return a - b; });
}
void vecSubStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy, float* z,
                          int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, [](float a, float b) { return a - b; });
}
void vecMulGeneric(const float* x, const float* y, float* z, int32_t n) {
  binary(x, y, z, n, [](float a, float b) { return a * b; });
}
void vecMulStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy, float* z,
                          int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, [](float a, float b) { return a * b; });
}
void vecDivGeneric(const float* x, const float* y, float* z, int32_t n) {
  binary(x, y, z, n, [](float a, float b) { return a / b; });
}
void vecDivStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy, float* z,
                          int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, [](float a, float b) { return a / b; });
}
void vecScaleGeneric(float c, const float* x, float* z, int32_t n) {
  unary(x, z, n, [c](float a) { return c * a; });
}
void vecScaleStridedGeneric(float c, const float* x, int32_t sx, float* z, int32_t sz,
                            int32_t n) {
  unaryS(x, sx, z, sz, n, [c](float a) { return c * a; });
}
void vecScaleInPlaceGeneric(float c, float* x, int32_t n) {
  for (int32_t i = 0; i < n; ++i) x[i] = c * x[i];
}

// ---- copies and fills ---------------------------------------------------------

void vecCopyGeneric(const float* src, float* dst, int32_t n) {
  // Bit for bit, also for signalling NaNs: copied as bytes.
  if (n > 0 && src != dst) std::memmove(dst, src, static_cast<size_t>(n) * 4);
}
void vecCopyStridedGeneric(const float* src, int32_t ss, float* dst, int32_t sd, int32_t n) {
  // Word copies in ascending order (overlapping in-place reorders rely on it).
  const uint32_t* s = reinterpret_cast<const uint32_t*>(src);
  uint32_t* d = reinterpret_cast<uint32_t*>(dst);
  for (int32_t i = 0; i < n; ++i) d[at(i, sd)] = s[at(i, ss)];
}
void ivecCopyGeneric(const int32_t* src, int32_t* dst, int32_t n) {
  if (n > 0 && src != dst) std::memmove(dst, src, static_cast<size_t>(n) * 4);
}
void ivecCopyStridedGeneric(const int32_t* src, int32_t ss, int32_t* dst, int32_t sd, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[at(i, sd)] = src[at(i, ss)];
}
void bvecCopyGeneric(const uint8_t* src, uint8_t* dst, int32_t n) {
  if (n > 0 && src != dst) std::memmove(dst, src, static_cast<size_t>(n));
}
void vecFillGeneric(float value, float* dst, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = value;
}
void vecFillStridedGeneric(float value, float* dst, int32_t stride, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[at(i, stride)] = value;
}
void ivecFillGeneric(int32_t value, int32_t* dst, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = value;
}
void ivecFillStridedGeneric(int32_t value, int32_t* dst, int32_t stride, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[at(i, stride)] = value;
}

// ---- complex --------------------------------------------------------------------

void vecComplexMagnitudeGeneric(const float* x, float* z, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    double re = x[2 * i], im = x[2 * i + 1];
    z[i] = static_cast<float>(std::sqrt(im * im + re * re));
  }
}
void vecComplexPowerGeneric(const float* x, float* z, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    double re = x[2 * i], im = x[2 * i + 1];
    z[i] = static_cast<float>(im * im + re * re);
  }
}

// ---- integer arithmetic ---------------------------------------------------------

void ivecAddGeneric(const int32_t* x, const int32_t* y, int32_t* z, int32_t n) {
  binary(x, y, z, n, wrapAdd);
}
void ivecAddStridedGeneric(const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z,
                           int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, wrapAdd);
}
void ivecSubGeneric(const int32_t* x, const int32_t* y, int32_t* z, int32_t n) {
  binary(x, y, z, n, wrapSub);
}
void ivecSubStridedGeneric(const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z,
                           int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, wrapSub);
}
void ivecMulGeneric(const int32_t* x, const int32_t* y, int32_t* z, int32_t n) {
  binary(x, y, z, n, wrapMul);
}
void ivecMulStridedGeneric(const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z,
                           int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, wrapMul);
}
void ivecDivGeneric(const int32_t* x, const int32_t* y, int32_t* z, int32_t n) {
  binary(x, y, z, n, safeDiv);
}
void ivecDivStridedGeneric(const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z,
                           int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, safeDiv);
}
void ivecScaleGeneric(int32_t c, const int32_t* x, int32_t* z, int32_t n) {
  unary(x, z, n, [c](int32_t a) { return wrapMul(c, a); });
}
void ivecScaleStridedGeneric(int32_t c, const int32_t* x, int32_t sx, int32_t* z, int32_t sz,
                             int32_t n) {
  unaryS(x, sx, z, sz, n, [c](int32_t a) { return wrapMul(c, a); });
}
void ivecScaleInPlaceGeneric(int32_t c, int32_t* x, int32_t n) {
  for (int32_t i = 0; i < n; ++i) x[i] = wrapMul(c, x[i]);
}

// ---- min, max, abs, clip, sign ---------------------------------------------------

void vecMinGeneric(const float* x, const float* y, float* z, int32_t n) { binary(x, y, z, n, fmin2); }
void vecMinStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy, float* z,
                          int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, fmin2);
}
void vecMaxGeneric(const float* x, const float* y, float* z, int32_t n) { binary(x, y, z, n, fmax2); }
void vecMaxStridedGeneric(const float* x, int32_t sx, const float* y, int32_t sy, float* z,
                          int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, fmax2);
}
void vecAbsGeneric(const float* x, float* z, int32_t n) { unary(x, z, n, fabsBits); }
void vecAbsStridedGeneric(const float* x, int32_t sx, float* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, fabsBits);
}
void vecClipGeneric(float lo, float hi, const float* x, float* z, int32_t n) {
  unary(x, z, n, [lo, hi](float a) { return fclip(lo, hi, a); });
}
void vecClipStridedGeneric(float lo, float hi, const float* x, int32_t sx, float* z, int32_t sz,
                           int32_t n) {
  unaryS(x, sx, z, sz, n, [lo, hi](float a) { return fclip(lo, hi, a); });
}
void vecSignGeneric(const float* x, float* z, int32_t n) { unary(x, z, n, fsign); }
void vecSignStridedGeneric(const float* x, int32_t sx, float* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, fsign);
}

void ivecMinGeneric(const int32_t* x, const int32_t* y, int32_t* z, int32_t n) {
  binary(x, y, z, n, [](int32_t a, int32_t b) { return b < a ? b : a; });
}
void ivecMinStridedGeneric(const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z,
                           int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, [](int32_t a, int32_t b) { return b < a ? b : a; });
}
void ivecMaxGeneric(const int32_t* x, const int32_t* y, int32_t* z, int32_t n) {
  binary(x, y, z, n, [](int32_t a, int32_t b) { return b > a ? b : a; });
}
void ivecMaxStridedGeneric(const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z,
                           int32_t sz, int32_t n) {
  binaryS(x, sx, y, sy, z, sz, n, [](int32_t a, int32_t b) { return b > a ? b : a; });
}
void ivecAbsGeneric(const int32_t* x, int32_t* z, int32_t n) { unary(x, z, n, iabs); }
void ivecAbsStridedGeneric(const int32_t* x, int32_t sx, int32_t* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, iabs);
}
void ivecClipGeneric(int32_t lo, int32_t hi, const int32_t* x, int32_t* z, int32_t n) {
  unary(x, z, n, [lo, hi](int32_t a) { return iclip(lo, hi, a); });
}
void ivecClipStridedGeneric(int32_t lo, int32_t hi, const int32_t* x, int32_t sx, int32_t* z,
                            int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, [lo, hi](int32_t a) { return iclip(lo, hi, a); });
}
void ivecSignGeneric(const int32_t* x, int32_t* z, int32_t n) {
  unary(x, z, n, [](int32_t a) { return a < 0 ? -1 : 1; });
}
void ivecSignStridedGeneric(const int32_t* x, int32_t sx, int32_t* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, [](int32_t a) { return a < 0 ? -1 : 1; });
}

// ---- rounding ----------------------------------------------------------------------

void vecFloorGeneric(const float* x, float* z, int32_t n) {
  unary(x, z, n, [](float a) { return static_cast<float>(std::floor(static_cast<double>(a))); });
}
void vecFloorStridedGeneric(const float* x, int32_t sx, float* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n,
         [](float a) { return static_cast<float>(std::floor(static_cast<double>(a))); });
}
void vecCeilGeneric(const float* x, float* z, int32_t n) {
  unary(x, z, n, [](float a) { return static_cast<float>(std::ceil(static_cast<double>(a))); });
}
void vecCeilStridedGeneric(const float* x, int32_t sx, float* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n,
         [](float a) { return static_cast<float>(std::ceil(static_cast<double>(a))); });
}
void vecRoundGeneric(const float* x, float* z, int32_t n) { unary(x, z, n, roundHalfUp); }
void vecRoundStridedGeneric(const float* x, int32_t sx, float* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, roundHalfUp);
}
void vecTruncGeneric(const float* x, float* z, int32_t n) { unary(x, z, n, truncToward0); }
void vecTruncStridedGeneric(const float* x, int32_t sx, float* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, truncToward0);
}

int32_t ilog2CeilGeneric(int32_t n) {
  if (n <= 1) return 0;
  int32_t k = 0;
  for (int32_t m = n - 1; m != 0; m >>= 1) ++k;
  return k;
}

// ---- conversions -----------------------------------------------------------------
// Halves round away from zero; a NaN element leaves its destination as it was.

void vecRoundClip16Generic(const float* x, float* z, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    float v = x[i];
    if (v > 32767.0f)
      z[i] = 32767.0f;
    else if (v < -32768.0f)
      z[i] = -32768.0f;
    else if (v > 0.0f)
      z[i] = static_cast<float>(static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(v) + 0.5)));
    else if (v <= 0.0f)
      z[i] = static_cast<float>(static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(v) - 0.5)));
  }
}

// Values beyond the 32-bit range saturate.
void vecFloatToIntGeneric(const float* x, int32_t* z, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    float v = x[i];
    if (v == v) z[i] = roundAway32(v);
  }
}

void vecFloatToShortGeneric(const float* x, int16_t* z, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    float v = x[i];
    if (v > 32767.0f)
      z[i] = 32767;
    else if (v < -32768.0f)
      z[i] = -32768;
    else if (v == v)
      z[i] = static_cast<int16_t>(roundAway32(v));
  }
}

// Truncation toward zero of x * scale + offset; values beyond the 32-bit range
// saturate and NaN gives 0.
void vecFloatToIntScaledGeneric(float offset, float scale, const float* x, int32_t* z,
                                int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    double v = static_cast<double>(x[i]) * scale + offset;
    int32_t r;
    if (!(v == v))
      r = 0;
    else if (v >= 2147483648.0)
      r = INT32_MAX;
    else if (v <= -2147483649.0)
      r = INT32_MIN;
    else
      r = static_cast<int32_t>(v);
    z[i] = r;
  }
}

// ---- elementary functions ----------------------------------------------------------

#define VECMATH_ELEMENTARY(name, expr)                                                  \
  void name##Generic(const float* x, float* z, int32_t n) {                            \
    unary(x, z, n, [](float a) { return expr; });                                       \
  }                                                                                     \
  void name##StridedGeneric(const float* x, int32_t sx, float* z, int32_t sz, int32_t n) { \
    unaryS(x, sx, z, sz, n, [](float a) { return expr; });                              \
  }

VECMATH_ELEMENTARY(vecSin, static_cast<float>(std::sin(static_cast<double>(a))))
VECMATH_ELEMENTARY(vecCos, static_cast<float>(std::cos(static_cast<double>(a))))
VECMATH_ELEMENTARY(vecExp, static_cast<float>(std::exp(static_cast<double>(a))))
VECMATH_ELEMENTARY(vecLog, static_cast<float>(std::log(static_cast<double>(a))))
VECMATH_ELEMENTARY(vecLog2, flog2(a))
VECMATH_ELEMENTARY(vecLog10, flog10(a))
VECMATH_ELEMENTARY(vecSqrt, static_cast<float>(std::sqrt(static_cast<double>(a))))
#undef VECMATH_ELEMENTARY

void vecPowGeneric(float c, const float* x, float* z, int32_t n) {
  unary(x, z, n, [c](float a) {
    return static_cast<float>(std::pow(static_cast<double>(a), static_cast<double>(c)));
  });
}
void vecPowStridedGeneric(float c, const float* x, int32_t sx, float* z, int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, [c](float a) {
    return static_cast<float>(std::pow(static_cast<double>(a), static_cast<double>(c)));
  });
}
void vecScaledLogGeneric(float a, float b, const float* x, float* z, int32_t n) {
  unary(x, z, n, [a, b](float v) {
    return static_cast<float>(static_cast<double>(a) *
                              std::log(static_cast<double>(b) * static_cast<double>(v)));
  });
}
void vecScaledLogStridedGeneric(float a, float b, const float* x, int32_t sx, float* z,
                                int32_t sz, int32_t n) {
  unaryS(x, sx, z, sz, n, [a, b](float v) {
    return static_cast<float>(static_cast<double>(a) *
                              std::log(static_cast<double>(b) * static_cast<double>(v)));
  });
}
