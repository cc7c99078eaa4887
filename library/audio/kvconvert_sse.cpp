// Processor-specific versions of the hot conversions: float and double to
// unsigned 8-bit, 16-bit and packed 24-bit, 16-bit to float and double, and
// float <-> double. Each splits its run so that the vector loop reads (or
// writes) aligned memory and leaves the ends to the generic routine; all of
// them clamp before converting, so out-of-range products clip exactly as the
// generic rule does instead of turning into the integer-indefinite value.
#include <emmintrin.h>
#include <mmintrin.h>
#include <smmintrin.h>
#include <xmmintrin.h>

#include <cstring>

#include "kvconvert.h"
#include "kvcpufeatures.h"

uint32_t SetMxcsrRoundNearest(uint32_t mxcsr) {
  uint32_t old = _mm_getcsr();
  uint32_t v;
  if (mxcsr != 0) {
    v = mxcsr & 0xFFFFu;
  } else {
    v = old & ~0x6000u;
    // Denormal products and inputs become zero where the processor accepts it.
    if (KvAudioCpu_GetSupport(KVCPU_FTZ_DAZ) & KVCPU_FTZ_DAZ) v |= KV_MXCSR_FTZ_DAZ;
  }
  _mm_setcsr(v);
  return old;
}

namespace {

inline size_t HeadToAlign16(const void* p, size_t elem, size_t count) {
  size_t mis = reinterpret_cast<uintptr_t>(p) & 15;
  size_t head = mis ? (16 - mis) / elem : 0;
  return head < count ? head : count;
}

template <int Bits>
struct IntLimits {
  static constexpr float kLoF = Bits == 8 ? -128.0f : Bits == 16 ? -32768.0f : -8388608.0f;
  static constexpr float kHiF = Bits == 8 ? 127.0f : Bits == 16 ? 32767.0f : 8388607.0f;
  static constexpr double kScale = Bits == 8 ? 128.0 : Bits == 16 ? 32768.0 : 8388608.0;
};

inline void Store24(uint8_t* d, int32_t v) {
  d[0] = static_cast<uint8_t>(v);
  d[1] = static_cast<uint8_t>(v >> 8);
  d[2] = static_cast<uint8_t>(v >> 16);
}

// ---- float source, SSE with MMX conversion ------------------------------
template <int Dst, int Bits>
void FloatToIntSse(void* dst, const void* src, int32_t count, float gain) {
  if (count <= 0) return;
  tKvAudioCopyFunc generic = KvConvert_Generic(static_cast<KVSAMPLETYPE>(Dst), KVST_FLOAT);
  const float* s = static_cast<const float*>(src);
  uint8_t* d = static_cast<uint8_t*>(dst);
  const size_t db = Bits / 8, n = static_cast<size_t>(count);
  if (reinterpret_cast<uintptr_t>(s) & 3) {
    generic(dst, src, count, gain);
    return;
  }
  size_t head = HeadToAlign16(s, 4, n);
  if (head) generic(d, s, static_cast<int32_t>(head), gain);
  size_t body = (n - head) & ~size_t(3);
  if (body) {
    uint32_t old = SetMxcsrRoundNearest(0);
    const __m128 scale = _mm_set1_ps(static_cast<float>(static_cast<double>(gain) * IntLimits<Bits>::kScale));
    const __m128 lo = _mm_set1_ps(IntLimits<Bits>::kLoF), hi = _mm_set1_ps(IntLimits<Bits>::kHiF);
    const float* sp = s + head;
    uint8_t* dp = d + head * db;
    for (size_t i = 0; i < body; i += 4) {
      __m128 x = _mm_mul_ps(_mm_load_ps(sp + i), scale);
      x = _mm_min_ps(_mm_max_ps(x, lo), hi);
      __m64 a = _mm_cvtps_pi32(x);
      __m64 b = _mm_cvtps_pi32(_mm_movehl_ps(x, x));
      if (Bits == 16) {
        __m64 w = _mm_packs_pi32(a, b);
        std::memcpy(dp + i * 2, &w, 8);
      } else if (Bits == 8) {
        __m64 w = _mm_packs_pi16(_mm_packs_pi32(a, b), _mm_setzero_si64());
        w = _mm_xor_si64(w, _mm_set1_pi8(static_cast<char>(0x80)));
        int32_t v = _mm_cvtsi64_si32(w);
        std::memcpy(dp + i, &v, 4);
      } else {
        int32_t v[4];
        std::memcpy(v, &a, 8);
        std::memcpy(v + 2, &b, 8);
        for (int k = 0; k < 4; ++k) Store24(dp + (i + k) * 3, v[k]);
      }
    }
    _mm_empty();
    SetMxcsrRoundNearest(old);
  }
  size_t tail = n - head - body;
  if (tail) generic(d + (head + body) * db, s + head + body, static_cast<int32_t>(tail), gain);
}

// ---- double source, SSE2 ------------------------------------------------
template <int Dst, int Bits>
void DoubleToIntSse2(void* dst, const void* src, int32_t count, float gain) {
  if (count <= 0) return;
  tKvAudioCopyFunc generic = KvConvert_Generic(static_cast<KVSAMPLETYPE>(Dst), KVST_DOUBLE);
  const double* s = static_cast<const double*>(src);
  uint8_t* d = static_cast<uint8_t*>(dst);
  const size_t db = Bits / 8, n = static_cast<size_t>(count);
  const bool aligned8 = (reinterpret_cast<uintptr_t>(s) & 7) == 0;
  size_t head = 0;
  if (aligned8 && (reinterpret_cast<uintptr_t>(s) & 15)) head = 1;
  if (head > n) head = n;
  if (head) generic(d, s, 1, gain);
  size_t body = (n - head) & ~size_t(1);
  if (body) {
    uint32_t old = SetMxcsrRoundNearest(0);
    const __m128d scale = _mm_set1_pd(static_cast<double>(gain) * IntLimits<Bits>::kScale);
    const __m128d lo = _mm_set1_pd(IntLimits<Bits>::kLoF), hi = _mm_set1_pd(IntLimits<Bits>::kHiF);
    const double* sp = s + head;
    uint8_t* dp = d + head * db;
    for (size_t i = 0; i < body; i += 2) {
      __m128d x = aligned8 ? _mm_load_pd(sp + i) : _mm_loadu_pd(sp + i);
      x = _mm_min_pd(_mm_max_pd(_mm_mul_pd(x, scale), lo), hi);
      __m128i v = _mm_cvtpd_epi32(x);
      if (Bits == 16) {
        int32_t w = _mm_cvtsi128_si32(_mm_packs_epi32(v, v));
        std::memcpy(dp + i * 2, &w, 4);
      } else if (Bits == 8) {
        __m128i w = _mm_packs_epi16(_mm_packs_epi32(v, v), v);
        w = _mm_xor_si128(w, _mm_set1_epi8(static_cast<char>(0x80)));
        uint16_t b2 = static_cast<uint16_t>(_mm_cvtsi128_si32(w));
        std::memcpy(dp + i, &b2, 2);
      } else {
        Store24(dp + i * 3, _mm_cvtsi128_si32(v));
        Store24(dp + (i + 1) * 3, _mm_cvtsi128_si32(_mm_srli_si128(v, 4)));
      }
    }
    SetMxcsrRoundNearest(old);
  }
  size_t tail = n - head - body;
  if (tail) generic(d + (head + body) * db, s + head + body, static_cast<int32_t>(tail), gain);
}

// ---- 16-bit to float ----------------------------------------------------
// Splits the run so that the destination of the vector loop is 16-byte
// aligned; Widen converts four samples to four floats.
template <class Widen>
inline void S16ToFloatRun(void* dst, const void* src, int32_t count, float gain, Widen widen, bool mmx) {
  if (count <= 0) return;
  tKvAudioCopyFunc generic = KvConvert_Generic(KVST_FLOAT, KVST_S16);
  float* d = static_cast<float*>(dst);
  const int16_t* s = static_cast<const int16_t*>(src);
  const size_t n = static_cast<size_t>(count);
  if (dst == src || (reinterpret_cast<uintptr_t>(d) & 3)) {
    generic(dst, src, count, gain);
    return;
  }
  size_t head = HeadToAlign16(d, 4, n);
  if (head) generic(d, s, static_cast<int32_t>(head), gain);
  size_t body = (n - head) & ~size_t(3);
  if (body) {
    uint32_t old = SetMxcsrRoundNearest(0);
    const __m128 scale = _mm_set1_ps(static_cast<float>(static_cast<double>(gain) * (1.0 / 32768.0)));
    float* dp = d + head;
    const int16_t* sp = s + head;
    for (size_t i = 0; i < body; i += 4) _mm_store_ps(dp + i, _mm_mul_ps(widen(sp + i), scale));
    if (mmx) _mm_empty();
    SetMxcsrRoundNearest(old);
  }
  size_t tail = n - head - body;
  if (tail) generic(d + head + body, s + head + body, static_cast<int32_t>(tail), gain);
}

struct WidenSse {
  __m128 operator()(const int16_t* p) const {
    __m64 v;
    std::memcpy(&v, p, 8);
    return _mm_cvtpi16_ps(v);
  }
};
struct WidenSse2 {
  __m128 operator()(const int16_t* p) const {
    __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
  }
};
struct WidenSse41 {
  __attribute__((target("sse4.1"))) __m128 operator()(const int16_t* p) const {
    return _mm_cvtepi32_ps(_mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
  }
};

__attribute__((target("sse4.1"))) void S16ToFloatSse41(void* d, const void* s, int32_t n, float g) {
  S16ToFloatRun(d, s, n, g, WidenSse41(), false);
}

}  // namespace

void KVAPI KvCvt_F32ToU8_Sse(void* d, const void* s, int32_t n, float g) { FloatToIntSse<KVST_U8, 8>(d, s, n, g); }
void KVAPI KvCvt_F32ToS16_Sse(void* d, const void* s, int32_t n, float g) { FloatToIntSse<KVST_S16, 16>(d, s, n, g); }
void KVAPI KvCvt_F32ToS24_Sse(void* d, const void* s, int32_t n, float g) { FloatToIntSse<KVST_S24, 24>(d, s, n, g); }
void KVAPI KvCvt_F64ToU8_Sse2(void* d, const void* s, int32_t n, float g) { DoubleToIntSse2<KVST_U8, 8>(d, s, n, g); }
void KVAPI KvCvt_F64ToS16_Sse2(void* d, const void* s, int32_t n, float g) {
  DoubleToIntSse2<KVST_S16, 16>(d, s, n, g);
}
void KVAPI KvCvt_F64ToS24_Sse2(void* d, const void* s, int32_t n, float g) {
  DoubleToIntSse2<KVST_S24, 24>(d, s, n, g);
}
void KVAPI KvCvt_S16ToF32_Sse(void* d, const void* s, int32_t n, float g) {
  S16ToFloatRun(d, s, n, g, WidenSse(), true);
}
void KVAPI KvCvt_S16ToF32_Sse2(void* d, const void* s, int32_t n, float g) {
  S16ToFloatRun(d, s, n, g, WidenSse2(), false);
}
void KVAPI KvCvt_S16ToF32_Sse41(void* d, const void* s, int32_t n, float g) { S16ToFloatSse41(d, s, n, g); }

// 16-bit to double: the head runs until the source reaches a 16-byte
// boundary, then eight samples per pass.
void KVAPI KvCvt_S16ToF64_Sse2(void* dst, const void* src, int32_t count, float gain) {
  if (count <= 0) return;
  tKvAudioCopyFunc generic = KvConvert_Generic(KVST_DOUBLE, KVST_S16);
  if (dst == src) {
    generic(dst, src, count, gain);
    return;
  }
  double* d = static_cast<double*>(dst);
  const int16_t* s = static_cast<const int16_t*>(src);
  const size_t n = static_cast<size_t>(count);
  size_t head = (reinterpret_cast<uintptr_t>(s) & 1) ? n : HeadToAlign16(s, 2, n);
  if (head) generic(d, s, static_cast<int32_t>(head), gain);
  size_t body = (n - head) & ~size_t(7);
  if (body) {
    uint32_t old = SetMxcsrRoundNearest(0);
    const __m128d scale = _mm_set1_pd(static_cast<double>(gain) / 32768.0);
    double* dp = d + head;
    const int16_t* sp = s + head;
    for (size_t i = 0; i < body; i += 8) {
      __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(sp + i));
      __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
      __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
      _mm_storeu_pd(dp + i, _mm_mul_pd(_mm_cvtepi32_pd(lo), scale));
      _mm_storeu_pd(dp + i + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(lo, 8)), scale));
      _mm_storeu_pd(dp + i + 4, _mm_mul_pd(_mm_cvtepi32_pd(hi), scale));
      _mm_storeu_pd(dp + i + 6, _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(hi, 8)), scale));
    }
    SetMxcsrRoundNearest(old);
  }
  size_t tail = n - head - body;
  if (tail) generic(d + head + body, s + head + body, static_cast<int32_t>(tail), gain);
}

// Double to float: with gain 1.0 pairs are converted directly (the thread's
// own rounding, as the generic cast does); other gains take the generic loop.
void KVAPI KvCvt_F64ToF32_Sse2(void* dst, const void* src, int32_t count, float gain) {
  if (count <= 0) return;
  if (static_cast<double>(gain) != 1.0) {
    KvConvert_Generic(KVST_FLOAT, KVST_DOUBLE)(dst, src, count, gain);
    return;
  }
  float* d = static_cast<float*>(dst);
  const double* s = static_cast<const double*>(src);
  const size_t n = static_cast<size_t>(count);
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    __m128 f = _mm_cvtpd_ps(_mm_loadu_pd(s + i));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_castps_si128(f));
  }
  if (i < n) {
    double x;
    std::memcpy(&x, s + i, 8);
    float f = static_cast<float>(x);
    std::memcpy(d + i, &f, 4);
  }
}

// Float to double: in place walks backwards in the generic routine.
void KVAPI KvCvt_F32ToF64_Sse2(void* dst, const void* src, int32_t count, float gain) {
  if (count <= 0) return;
  if (static_cast<double>(gain) != 1.0 || dst == src) {
    KvConvert_Generic(KVST_DOUBLE, KVST_FLOAT)(dst, src, count, gain);
    return;
  }
  double* d = static_cast<double*>(dst);
  const float* s = static_cast<const float*>(src);
  const size_t n = static_cast<size_t>(count);
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    __m128 f = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)));
    _mm_storeu_pd(d + i, _mm_cvtps_pd(f));
  }
  if (i < n) {
    float f;
    std::memcpy(&f, s + i, 4);
    double x = f;
    std::memcpy(d + i, &x, 8);
  }
}
