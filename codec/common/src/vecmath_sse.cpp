// SSE kernels of the vector operations.
//
// A kernel takes its packed path only when every array of the call lies on a
// 16-byte boundary; otherwise the whole call runs the generic rule. Packed
// path: blocks of 8 elements as two groups of 4, then one block of 4, then
// the last 0-3 elements by the generic rule. Element-wise kernels give the
// generic result bit for bit; reductions add in a different order, and the
// complex kernels and vecRoundClip16 round differently (see vecmath.h).
#include "vecmath_kernels.h"

#if defined(__SSE__)
#include <xmmintrin.h>

namespace {

inline bool aligned(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15u) == 0; }
template <class... P>
inline bool aligned(const void* p, P... rest) {
  return aligned(p) && aligned(rest...);
}

// ((l1 + l3) + (l0 + l2)) in single precision.
inline float reduce4(__m128 v) {
  __m128 t = _mm_add_ps(v, _mm_movehl_ps(v, v));  // (l0 + l2, l1 + l3, ...)
  __m128 u = _mm_shuffle_ps(t, t, _MM_SHUFFLE(1, 1, 1, 1));
  return _mm_cvtss_f32(_mm_add_ss(u, t));  // (l1 + l3) + (l0 + l2)
}

// Element-wise packed loop: blocks of 8 (two groups of 4), a block of 4,
// then the tail by the generic routine.
template <class Op, class Tail>
inline void elementwise2(const float* x, const float* y, float* z, int32_t n, Op op, Tail tail) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128 a0 = _mm_load_ps(x + i), a1 = _mm_load_ps(x + i + 4);
    __m128 b0 = _mm_load_ps(y + i), b1 = _mm_load_ps(y + i + 4);
    _mm_store_ps(z + i, op(a0, b0));
    _mm_store_ps(z + i + 4, op(a1, b1));
  }
  if (i + 4 <= n) {
    _mm_store_ps(z + i, op(_mm_load_ps(x + i), _mm_load_ps(y + i)));
    i += 4;
  }
  if (i < n) tail(x + i, y + i, z + i, n - i);
}

template <class Op, class Tail>
inline void elementwise1(const float* x, float* z, int32_t n, Op op, Tail tail) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128 a0 = _mm_load_ps(x + i), a1 = _mm_load_ps(x + i + 4);
    _mm_store_ps(z + i, op(a0));
    _mm_store_ps(z + i + 4, op(a1));
  }
  if (i + 4 <= n) {
    _mm_store_ps(z + i, op(_mm_load_ps(x + i)));
    i += 4;
  }
  if (i < n) tail(x + i, z + i, n - i);
}

// Per-lane select: mask ? a : b.
inline __m128 select(__m128 mask, __m128 a, __m128 b) {
  return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

}  // namespace

// ---- packed kernels ----------------------------------------------------------

static float vecSumSse(const float* x, int32_t n) {
  if (!aligned(x)) return vecSumGeneric(x, n);
  float s = 0.0f;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    float a = reduce4(_mm_load_ps(x + i));
    float b = reduce4(_mm_load_ps(x + i + 4));
    s = s + (a + b);
  }
  if (i + 4 <= n) {
    s = s + reduce4(_mm_load_ps(x + i));
    i += 4;
  }
  for (; i < n; ++i) s = s + x[i];
  return s;
}

static void vecAddSse(const float* x, const float* y, float* z, int32_t n) {
  if (!aligned(x, y, z)) return vecAddGeneric(x, y, z, n);
  elementwise2(x, y, z, n, [](__m128 a, __m128 b) { return _mm_add_ps(a, b); }, vecAddGeneric);
}
static void vecSubSse(const float* x, const float* y, float* z, int32_t n) {
  if (!aligned(x, y, z)) return vecSubGeneric(x, y, z, n);
  elementwise2(x, y, z, n, [](__m128 a, __m128 b) { return _mm_sub_ps(a, b); }, vecSubGeneric);
}
static void vecMulSse(const float* x, const float* y, float* z, int32_t n) {
  if (!aligned(x, y, z)) return vecMulGeneric(x, y, z, n);
  elementwise2(x, y, z, n, [](__m128 a, __m128 b) { return _mm_mul_ps(a, b); }, vecMulGeneric);
}
// min: x where y >= x, else y (so equal elements and a NaN behave as the
// generic rule); max likewise with y <= x.
static void vecMinSse(const float* x, const float* y, float* z, int32_t n) {
  if (!aligned(x, y, z)) return vecMinGeneric(x, y, z, n);
  elementwise2(x, y, z, n, [](__m128 a, __m128 b) { return select(_mm_cmpge_ps(b, a), a, b); },
               vecMinGeneric);
}
static void vecMaxSse(const float* x, const float* y, float* z, int32_t n) {
  if (!aligned(x, y, z)) return vecMaxGeneric(x, y, z, n);
  elementwise2(x, y, z, n, [](__m128 a, __m128 b) { return select(_mm_cmple_ps(b, a), a, b); },
               vecMaxGeneric);
}

static void vecAddScalarSse(float c, const float* x, float* z, int32_t n) {
  if (!aligned(x, z)) return vecAddScalarGeneric(c, x, z, n);
  const __m128 vc = _mm_set1_ps(c);
  elementwise1(x, z, n, [vc](__m128 a) { return _mm_add_ps(a, vc); },
               [c](const float* xx, float* zz, int32_t m) { vecAddScalarGeneric(c, xx, zz, m); });
}
static void vecScaleSse(float c, const float* x, float* z, int32_t n) {
  if (!aligned(x, z)) return vecScaleGeneric(c, x, z, n);
  const __m128 vc = _mm_set1_ps(c);
  elementwise1(x, z, n, [vc](__m128 a) { return _mm_mul_ps(vc, a); },
               [c](const float* xx, float* zz, int32_t m) { vecScaleGeneric(c, xx, zz, m); });
}
static void vecAbsSse(const float* x, float* z, int32_t n) {
  if (!aligned(x, z)) return vecAbsGeneric(x, z, n);
  const __m128 sign = _mm_set1_ps(-0.0f);
  elementwise1(x, z, n, [sign](__m128 a) { return _mm_andnot_ps(sign, a); }, vecAbsGeneric);
}

// Copies move the bits through integer-free 128-bit loads and stores, which
// keep signalling NaNs unchanged.
static void copyWords(const void* src, void* dst, int32_t n) {
  const float* s = static_cast<const float*>(src);
  float* d = static_cast<float*>(dst);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128 a = _mm_load_ps(s + i), b = _mm_load_ps(s + i + 4);
    _mm_store_ps(d + i, a);
    _mm_store_ps(d + i + 4, b);
  }
  if (i + 4 <= n) {
    _mm_store_ps(d + i, _mm_load_ps(s + i));
    i += 4;
  }
  if (i < n) vecCopyGeneric(s + i, d + i, n - i);
}
static void vecCopySse(const float* src, float* dst, int32_t n) {
  if (!aligned(src, dst) || src == dst) return vecCopyGeneric(src, dst, n);
  copyWords(src, dst, n);
}
static void ivecCopySse(const int32_t* src, int32_t* dst, int32_t n) {
  if (!aligned(src, dst) || src == dst) return ivecCopyGeneric(src, dst, n);
  copyWords(src, dst, n);
}

static void vecFillSse(float value, float* dst, int32_t n) {
  if (!aligned(dst)) return vecFillGeneric(value, dst, n);
  const __m128 v = _mm_set1_ps(value);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) _mm_store_ps(dst + i, v);
  for (; i < n; ++i) dst[i] = value;
}

// lo where x < lo, else hi where x > hi, else x (as the generic rule).
static void vecClipSse(float lo, float hi, const float* x, float* z, int32_t n) {
  if (!aligned(x, z)) return vecClipGeneric(lo, hi, x, z, n);
  const __m128 vlo = _mm_set1_ps(lo), vhi = _mm_set1_ps(hi);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128 a = _mm_load_ps(x + i);
    __m128 t = select(_mm_cmpgt_ps(a, vhi), vhi, a);
    _mm_store_ps(z + i, select(_mm_cmplt_ps(a, vlo), vlo, t));
  }
  if (i < n) vecClipGeneric(lo, hi, x + i, z + i, n - i);
}

// Two accumulators of 4 lanes (elements 8k..8k+3 and 8k+4..8k+7), products
// in single precision; lanes combined as (l0 + l2) + (l1 + l3).
template <class Term>
inline float dualAccumulate(const float* x, const float* y, int32_t n, int32_t* done, Term term) {
  __m128 acc0 = _mm_setzero_ps(), acc1 = _mm_setzero_ps();
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    acc0 = _mm_add_ps(acc0, term(_mm_load_ps(x + i), _mm_load_ps(y + i)));
    acc1 = _mm_add_ps(acc1, term(_mm_load_ps(x + i + 4), _mm_load_ps(y + i + 4)));
  }
  if (i + 4 <= n) {
    acc0 = _mm_add_ps(acc0, term(_mm_load_ps(x + i), _mm_load_ps(y + i)));
    i += 4;
  }
  *done = i;
  return reduce4(_mm_add_ps(acc0, acc1));
}

static float vecDotProductSse(const float* x, const float* y, int32_t n) {
  if (!aligned(x, y) || n < 4) return vecDotProductGeneric(x, y, n);
  int32_t i;
  float s = dualAccumulate(x, y, n, &i, [](__m128 a, __m128 b) { return _mm_mul_ps(a, b); });
  for (; i < n; ++i)
    s = static_cast<float>(static_cast<double>(s) + static_cast<double>(x[i]) * y[i]);
  return s;
}

static float vecSquaredDistanceSse(const float* x, const float* y, int32_t n) {
  if (!aligned(x, y) || n < 4) return vecSquaredDistanceGeneric(x, y, n);
  int32_t i;
  float s = dualAccumulate(x, y, n, &i, [](__m128 a, __m128 b) {
    __m128 d = _mm_sub_ps(a, b);
    return _mm_mul_ps(d, d);
  });
  for (; i < n; ++i) {
    float d = x[i] - y[i];
    s = static_cast<float>(static_cast<double>(s) + static_cast<double>(d) * d);
  }
  return s;
}

// Each aligned block of 8 is reduced to its extreme element and combined with
// the running value (which starts at x[0]); then the tail is scanned. Max
// picks the largest, else the smallest.
template <bool Max>
static float extremeValueSse(const float* x, int32_t n) {
  if (!aligned(x) || n < 8) return Max ? vecMaxValueGeneric(x, n) : vecMinValueGeneric(x, n);
  const auto pick = [](__m128 a, __m128 b) { return Max ? _mm_max_ps(a, b) : _mm_min_ps(a, b); };
  const auto pickLow = [](__m128 a, __m128 b) { return Max ? _mm_max_ss(a, b) : _mm_min_ss(a, b); };
  const auto beyond = [](float a, float b) { return Max ? a > b : a < b; };
  float v = x[0];
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128 m = pick(_mm_load_ps(x + i), _mm_load_ps(x + i + 4));
    m = pick(m, _mm_movehl_ps(m, m));
    m = pickLow(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(1, 1, 1, 1)));
    float b = _mm_cvtss_f32(m);
    if (beyond(b, v)) v = b;
  }
  for (; i < n; ++i)
    if (beyond(x[i], v)) v = x[i];
  return v;
}
static float vecMinValueSse(const float* x, int32_t n) { return extremeValueSse<false>(x, n); }
static float vecMaxValueSse(const float* x, int32_t n) { return extremeValueSse<true>(x, n); }

// Blocks of 8 floats (4 complex values): re*re + im*im in single precision.
template <bool kMagnitude>
inline void complexKernel(const float* x, float* z, int32_t n) {
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128 a = _mm_load_ps(x + 2 * i), b = _mm_load_ps(x + 2 * i + 4);
    __m128 re = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    __m128 im = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    __m128 p = _mm_add_ps(_mm_mul_ps(re, re), _mm_mul_ps(im, im));
    if (kMagnitude) p = _mm_sqrt_ps(p);
    _mm_store_ps(z + i, p);
  }
  if (i < n) {
    if (kMagnitude)
      vecComplexMagnitudeGeneric(x + 2 * i, z + i, n - i);
    else
      vecComplexPowerGeneric(x + 2 * i, z + i, n - i);
  }
}
static void vecComplexMagnitudeSse(const float* x, float* z, int32_t n) {
  if (!aligned(x, z)) return vecComplexMagnitudeGeneric(x, z, n);
  complexKernel<true>(x, z, n);
}
static void vecComplexPowerSse(const float* x, float* z, int32_t n) {
  if (!aligned(x, z)) return vecComplexPowerGeneric(x, z, n);
  complexKernel<false>(x, z, n);
}

// Blocks of 4 through the 16-bit conversion of the processor (current
// rounding mode, saturating); the tail by the generic rule.
static void vecRoundClip16Sse(const float* x, float* z, int32_t n) {
  if (!aligned(x, z)) return vecRoundClip16Generic(x, z, n);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m64 s = _mm_cvtps_pi16(_mm_load_ps(x + i));
    _mm_store_ps(z + i, _mm_cvtpi16_ps(s));
  }
  _mm_empty();
  if (i < n) vecRoundClip16Generic(x + i, z + i, n - i);
}

// ---- kernels that compute the generic rule ------------------------------------

#define VECMATH_SSE_KERNEL_packed(name, ret, params, args)
#define VECMATH_SSE_KERNEL_none(name, ret, params, args)
#define VECMATH_SSE_KERNEL_generic(name, ret, params, args)
#define VECMATH_SSE_KERNEL_same(name, ret, params, args) \
  static ret name##Sse params { return name##Generic args; }
#define VECMATH_SSE_KERNEL(slot, name, ret, params, args, sse, sse2) \
  VECMATH_SSE_KERNEL_##sse(name, ret, params, args)
VECMATH_OPS(VECMATH_SSE_KERNEL)

#define VECMATH_SSE_ENTRY_packed(name) &name##Sse
#define VECMATH_SSE_ENTRY_same(name) &name##Sse
#define VECMATH_SSE_ENTRY_generic(name) &name##Generic
#define VECMATH_SSE_ENTRY_none(name) nullptr
#define VECMATH_SSE_ENTRY(slot, name, ret, params, args, sse, sse2) VECMATH_SSE_ENTRY_##sse(name),
const VecMathTable kVecMathSseKernels = {VECMATH_OPS(VECMATH_SSE_ENTRY)};

#else  // no SSE on this host: no kernels

const VecMathTable kVecMathSseKernels = {};

#endif
