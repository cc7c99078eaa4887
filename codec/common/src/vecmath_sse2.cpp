// SSE2 kernels: the integer fill and the three conversions to integers.
//
// The conversions run blocks of 8 with aligned or unaligned loads and stores
// and convert in the current rounding mode (halves to even by default); a
// NaN or a value beyond the 32-bit range converts to -2147483648 before any
// packing. The tail follows the generic rule.
#include "vecmath_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

inline bool aligned(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15u) == 0; }

inline __m128 load(const float* p, bool a) { return a ? _mm_load_ps(p) : _mm_loadu_ps(p); }
inline void store(void* p, __m128i v, bool a) {
  if (a)
    _mm_store_si128(static_cast<__m128i*>(p), v);
  else
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// Widens 8 saturated 16-bit values back to 32-bit integers.
inline __m128i widenLow(__m128i s) { return _mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16); }
inline __m128i widenHigh(__m128i s) { return _mm_srai_epi32(_mm_unpackhi_epi16(s, s), 16); }

}  // namespace

static void ivecFillSse2(int32_t value, int32_t* dst, int32_t n) {
  if (!aligned(dst)) return ivecFillGeneric(value, dst, n);
  const __m128i v = _mm_set1_epi32(value);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) _mm_store_si128(reinterpret_cast<__m128i*>(dst + i), v);
  for (; i < n; ++i) dst[i] = value;
}

static void vecRoundClip16Sse2(const float* x, float* z, int32_t n) {
  const bool a = aligned(x) && aligned(z);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i lo = _mm_cvtps_epi32(load(x + i, a));
    __m128i hi = _mm_cvtps_epi32(load(x + i + 4, a));
    __m128i s = _mm_packs_epi32(lo, hi);
    __m128 f0 = _mm_cvtepi32_ps(widenLow(s));
    __m128 f1 = _mm_cvtepi32_ps(widenHigh(s));
    if (a) {
      _mm_store_ps(z + i, f0);
      _mm_store_ps(z + i + 4, f1);
    } else {
      _mm_storeu_ps(z + i, f0);
      _mm_storeu_ps(z + i + 4, f1);
    }
  }
  if (i < n) vecRoundClip16Generic(x + i, z + i, n - i);
}

static void vecFloatToIntSse2(const float* x, int32_t* z, int32_t n) {
  const bool a = aligned(x) && aligned(z);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    store(z + i, _mm_cvtps_epi32(load(x + i, a)), a);
    store(z + i + 4, _mm_cvtps_epi32(load(x + i + 4, a)), a);
  }
  if (i < n) vecFloatToIntGeneric(x + i, z + i, n - i);
}

static void vecFloatToShortSse2(const float* x, int16_t* z, int32_t n) {
  const bool a = aligned(x) && aligned(z);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i lo = _mm_cvtps_epi32(load(x + i, a));
    __m128i hi = _mm_cvtps_epi32(load(x + i + 4, a));
    store(z + i, _mm_packs_epi32(lo, hi), a);
  }
  if (i < n) vecFloatToShortGeneric(x + i, z + i, n - i);
}

#define VECMATH_SSE2_ENTRY_packed(name) &name##Sse2
#define VECMATH_SSE2_ENTRY_none(name) nullptr
#define VECMATH_SSE2_ENTRY(slot, name, ret, params, args, sse, sse2) VECMATH_SSE2_ENTRY_##sse2(name),
const VecMathTable kVecMathSse2Kernels = {VECMATH_OPS(VECMATH_SSE2_ENTRY)};

#else

const VecMathTable kVecMathSse2Kernels = {};

#endif
