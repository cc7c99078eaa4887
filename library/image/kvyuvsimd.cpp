// The row kernels of the 8-bit YUV converters: plain forms and their SSE2
// twins, eight pixels at a time (twelve for the v210 decoder, two groups;
// twenty-four for the v210 encoder, four) with the plain kernel finishing a
// row.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "kvimagecpu.h"
#include "kvyuvkernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline BYTE Clamp(int32_t v, int32_t lo, int32_t hi) { return static_cast<BYTE>(v < lo ? lo : v > hi ? hi : v); }

// Arithmetic shift right (floor), also for negative values.
inline int32_t Shr12(int32_t v) { return v >= 0 ? v >> 12 : -((-v + 4095) >> 12); }

// Bytes is the size of the RGB pixel: 4 (BGRA, alpha 255) or 3 (BGR).
template <int Bytes>
void UyvyToRgbPlain(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  for (int32_t x = 0; x + 1 < width; x += 2, s += 4) {
    const int32_t u = s[0] - 128, v = s[2] - 128;
    for (int i = 0; i < 2; ++i, d += Bytes) {
      const int32_t y = s[1 + 2 * i] * 4096 + 2048;
      d[0] = Clamp(Shr12(k.ub * u + y), 0, 255);
      d[1] = Clamp(Shr12(k.vg * v + k.ug * u + y), 0, 255);
      d[2] = Clamp(Shr12(k.vr * v + y), 0, 255);
      if (Bytes == 4) d[3] = 255;
    }
  }
}

void UyvyToBgraPlain(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  UyvyToRgbPlain<4>(d, s, width, k);
}

template <int Bytes>
void RgbToUyvyPlain(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  for (int32_t x = 0; x + 1 < width; x += 2, s += 2 * Bytes, d += 4) {
    const int32_t b0 = s[0], g0 = s[1], r0 = s[2], b1 = s[Bytes], g1 = s[Bytes + 1], r1 = s[Bytes + 2];
    const int32_t y0 = (k.kb * b0 + k.kg * g0 + k.kr * r0 + 2048) >> 12;
    const int32_t y1 = (k.kb * b1 + k.kg * g1 + k.kr * r1 + 2048) >> 12;
    // 526336 = 128 x 4096 + 2048: the chroma bias and a rounding half.
    const int32_t u = Shr12(k.ub2 * (b0 + b1) + k.ug2 * (g0 + g1) + k.ur * (r0 + r1) + 526336);
    const int32_t v = Shr12(k.vb2 * (b0 + b1) + k.vg2 * (g0 + g1) + k.vr2 * (r0 + r1) + 526336);
    // The values 0 and 255 are never written.
    d[0] = Clamp(u, 1, 254);
    d[1] = Clamp(y0, 1, 254);
    d[2] = Clamp(v, 1, 254);
    d[3] = Clamp(y1, 1, 254);
  }
}

void BgraToUyvyPlain(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  RgbToUyvyPlain<4>(d, s, width, k);
}

// Clamped to 0..255, then rounded to nearest with halves up.
inline BYTE Round8(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<BYTE>(std::floor(v + 0.5f));
}

void PackedToBgraPlain(BYTE* d, const BYTE* s, int32_t width, bool uyvy, const float k[4]) {
  const int oY0 = uyvy ? 1 : 0, oU = uyvy ? 0 : 1, oY1 = uyvy ? 3 : 2, oV = uyvy ? 2 : 3;
  for (int32_t x = 0; x + 1 < width; x += 2, s += 4) {
    const float uu = float(s[oU]) - 128.0f, vv = float(s[oV]) - 128.0f;
    for (int i = 0; i < 2; ++i, d += 4) {
      const float yy = float(s[i ? oY1 : oY0]);
      d[0] = Round8(yy + k[3] * uu);
      d[1] = Round8(yy + k[1] * uu + k[2] * vv);
      d[2] = Round8(yy + k[0] * vv);
      d[3] = 255;
    }
  }
}

void SampledToBgraPlain(BYTE* d, const BYTE* y, const BYTE* u, const BYTE* v, int32_t width, int32_t yStep,
                        int32_t cStep, const float k[4]) {
  for (int32_t x = 0; x < width; ++x, d += 4) {
    const float yy = float(y[int64_t(x) * yStep]);
    const float uu = float(u[int64_t(x) * cStep]) - 128.0f, vv = float(v[int64_t(x) * cStep]) - 128.0f;
    d[0] = Round8(yy + k[3] * uu);
    d[1] = Round8(yy + k[1] * uu + k[2] * vv);
    d[2] = Round8(yy + k[0] * vv);
    d[3] = 255;
  }
}

// The six luma samples of a v210 group and the chroma of each pixel.
inline void V210Group(const BYTE* g, int32_t y[6], int32_t u[6], int32_t v[6]) {
  uint32_t w[4];
  std::memcpy(w, g, 16);
  auto f = [&w](int word, int i) { return static_cast<int32_t>((w[word] >> (10 * i)) & 0x3FF); };
  // Words: U0 Y0 V0 | Y1 U1 Y2 | V1 Y3 U2 | Y4 V2 Y5.
  const int32_t ys[6] = {f(0, 1), f(1, 0), f(1, 2), f(2, 1), f(3, 0), f(3, 2)};
  const int32_t us[3] = {f(0, 0), f(1, 1), f(2, 2)}, vs[3] = {f(0, 2), f(2, 0), f(3, 1)};
  for (int c = 0; c < 6; ++c) {
    y[c] = ys[c];
    u[c] = us[c / 2];
    v[c] = vs[c / 2];
  }
}

void V210ToBgraPlain(BYTE* d, const BYTE* s, int32_t width, const float k[4]) {
  for (int32_t x = 0; x < width; x += 6, s += 16) {
    int32_t y[6], u[6], v[6];
    V210Group(s, y, u, v);
    for (int c = 0; c < 6 && x + c < width; ++c, d += 4) {
      const float yy = float(y[c]) * 0.25f, uu = float(u[c]) - 512.0f, vv = float(v[c]) - 512.0f;
      d[0] = Round8(yy + k[3] * uu);
      d[1] = Round8(yy + k[1] * uu + k[2] * vv);
      d[2] = Round8(yy + k[0] * vv);
      d[3] = 255;
    }
  }
}

// The fixed "YUYV" encoder's weights on B, G and R: luma, Cb, Cr.
struct YuyvWeights {
  int32_t y[3], u[3], v[3];
};
const YuyvWeights kYuyv601 = {{1868, 9617, 4899}, {8602, -5699, -2903}, {-1399, -7203, 8602}};
const YuyvWeights kYuyv709 = {{1181, 11721, 3482}, {8192, -6316, -1876}, {-750, -7442, 8192}};

void BgraToYuyvFixedPlain(BYTE* d, const BYTE* s, int32_t width, bool bt709) {
  const YuyvWeights& w = bt709 ? kYuyv709 : kYuyv601;
  for (int32_t x = 0; x + 1 < width; x += 2, s += 8, d += 4) {
    const BYTE *p0 = s, *p1 = s + 4;
    const int32_t s0 = w.y[0] * p0[0] + w.y[1] * p0[1] + w.y[2] * p0[2];
    const int32_t s1 = w.y[0] * p1[0] + w.y[1] * p1[1] + w.y[2] * p1[2];
    const int32_t sb = p0[0] + p1[0], sg = p0[1] + p1[1], sr = p0[2] + p1[2];
    const int32_t xu = w.u[0] * sb + w.u[1] * sg + w.u[2] * sr, xv = w.v[0] * sb + w.v[1] * sg + w.v[2] * sr;
    d[0] = Clamp(((s0 >> 8) + 32) >> 6, 0, 255);
    d[1] = Clamp(((xu >> 9) + 8224) >> 6, 0, 255);
    d[2] = Clamp(((s1 >> 8) + 32) >> 6, 0, 255);
    d[3] = Clamp(((xv >> 9) + 8224) >> 6, 0, 255);
  }
}

void PlanarFullPlain(BYTE* d, const BYTE* y, const BYTE* u, const BYTE* v, int32_t width, const KvYUVMatrixQ14& m) {
  for (int32_t x = 0; x + 1 < width; x += 2) {
    const int32_t us = u[x / 2], vs = v[x / 2];
    int32_t t[3];
    for (int c = 0; c < 3; ++c) {
      const int64_t sum = int64_t(us) * m.chromaQ14[2 * c] + int64_t(vs) * m.chromaQ14[2 * c + 1] + m.offsetQ14[c];
      t[c] = static_cast<int32_t>(sum >> 14);
    }
    for (int i = 0; i < 2; ++i) {
      const int32_t yv = y[x + i];
      BYTE* out = d + int64_t(x + i) * 4;
      out[0] = Clamp(yv + t[0], 0, 255);
      out[1] = Clamp(yv + t[1], 0, 255);
      out[2] = Clamp(yv + t[2], 0, 255);
      out[3] = 255;
    }
  }
}

void PlanarHalfPlain(BYTE* d, const BYTE* y0, const BYTE* y1, const BYTE* u0, const BYTE* u1, const BYTE* v0,
                     const BYTE* v1, int32_t outWidth, bool blend, const KvYUVMatrixQ14& m) {
  const int32_t times = blend ? 2 : 1, shift = blend ? 2 : 1;
  for (int32_t x = 0; x < outWidth; ++x, d += 4) {
    const int32_t us = u0[x] + (blend ? u1[x] : 0), vs = v0[x] + (blend ? v1[x] : 0);
    const int32_t s = y0[2 * x] + y0[2 * x + 1] + (blend ? y1[2 * x] + y1[2 * x + 1] : 0);
    for (int c = 0; c < 3; ++c) {
      const int64_t sum =
          int64_t(us) * m.chromaQ14[2 * c] + int64_t(vs) * m.chromaQ14[2 * c + 1] + int64_t(times) * m.offsetQ14[c];
      d[c] = Clamp((static_cast<int32_t>(sum >> 13) + s) >> shift, 0, 255);
    }
    d[3] = 255;
  }
}

void UyvyToBgrPlain(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) { UyvyToRgbPlain<3>(d, s, width, k); }
void BgrToUyvyPlain(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) { RgbToUyvyPlain<3>(d, s, width, k); }

// Quarter width: each output pixel sums 4 x lumaRows luma samples and the 2 x 2
// chroma samples of its columns; the chroma terms take the offsets four times
// and are shifted by 13 (2 luma rows) or 12 (4), the result by 3 or 4.
void PlanarQuarterPlain(BYTE* d, const BYTE* const* y, int lumaRows, const BYTE* u0, const BYTE* u1, const BYTE* v0,
                        const BYTE* v1, int32_t outWidth, const KvYUVMatrixQ14& m) {
  const int chromaShift = lumaRows == 4 ? 12 : 13, shift = lumaRows == 4 ? 4 : 3;
  for (int32_t x = 0; x < outWidth; ++x, d += 4) {
    const int32_t us = u0[2 * x] + u0[2 * x + 1] + u1[2 * x] + u1[2 * x + 1];
    const int32_t vs = v0[2 * x] + v0[2 * x + 1] + v1[2 * x] + v1[2 * x + 1];
    int32_t s = 0;
    for (int r = 0; r < lumaRows; ++r)
      for (int k = 0; k < 4; ++k) s += y[r][4 * x + k];
    for (int c = 0; c < 3; ++c) {
      const int64_t sum = int64_t(us) * m.chromaQ14[2 * c] + int64_t(vs) * m.chromaQ14[2 * c + 1] +
                          int64_t(4) * m.offsetQ14[c];
      d[c] = Clamp((static_cast<int32_t>(sum >> chromaShift) + s) >> shift, 0, 255);
    }
    d[3] = 255;
  }
}

// Clamped to lo..hi, then rounded down (v - 0.499999985 rounded to nearest).
inline int32_t Down(double v, int32_t lo, int32_t hi) {
  if (!(v > lo)) v = lo;
  if (v > hi) v = hi;
  return static_cast<int32_t>(std::nearbyint(v - 0.499999985));
}

void BgraToLumaPlain(BYTE* d, const BYTE* s, int32_t width, const KvI420Weights& w, const float dither[4]) {
  for (int32_t x = 0; x < width; ++x, s += 4) {
    const float c[3] = {float(s[2]), float(s[1]), float(s[0])};
    const float luma = w.luma[0] * c[0] + w.luma[1] * c[1] + w.luma[2] * c[2];
    d[x] = BYTE(Down(luma + dither[x & 3], 1, 254));
  }
}

void BgraToChromaPlain(BYTE* u, BYTE* v, const BYTE* s0, const BYTE* s1, int32_t cw, const KvI420Weights& w,
                       const float dither[4]) {
  for (int32_t cc = 0; cc < cw; ++cc) {
    float sum[3] = {0, 0, 0};
    for (const BYTE* row : {s0, s1})
      for (int k = 0; k < 2; ++k) {
        const BYTE* p = row + int64_t(2 * cc + k) * 4;
        const float c[3] = {float(p[2]), float(p[1]), float(p[0])};
        for (int i = 0; i < 3; ++i) sum[i] += c[i];
      }
    const float du = w.cb[0] * sum[0] + w.cb[1] * sum[1] + w.cb[2] * sum[2];
    const float dv = w.cr[0] * sum[0] + w.cr[1] * sum[1] + w.cr[2] * sum[2];
    u[cc] = BYTE(Down(du * w.chromaScale + 128.0f + dither[cc & 3], 1, 254));
    v[cc] = BYTE(Down(dv * w.chromaScale + 128.0f + dither[cc & 3], 1, 254));
  }
}

// Sets 10-bit field (0..2) of a little-endian v210 word, other bits kept.
inline void InsertField(BYTE* word, int field, uint32_t value) {
  uint32_t w;
  std::memcpy(&w, word, 4);
  w = (w & ~(0x3FFu << (10 * field))) | ((value & 0x3FF) << (10 * field));
  std::memcpy(word, &w, 4);
}

void BgraToV210Plain(BYTE* d, const BYTE* s, int32_t width, const KvI420Weights& w, const float dither[4]) {
  // Word and field of each luma and chroma sample of a group.
  static const int yWord[6] = {0, 1, 1, 2, 3, 3}, yField[6] = {1, 0, 2, 1, 0, 2};
  static const int uWord[3] = {0, 1, 2}, uField[3] = {0, 1, 2}, vWord[3] = {0, 2, 3}, vField[3] = {2, 0, 1};
  for (int32_t g = 0; g * 6 < width; ++g) {
    BYTE* group = d + int64_t(g) * 16;
    // A partial last group starts from zero words.
    if (g * 6 + 6 > width) std::memset(group, 0, 16);
    for (int32_t c = 0; c < 6; c += 2) {
      const int32_t x = g * 6 + c;
      if (x >= width) break;
      const BYTE* q0 = s + int64_t(x) * 4;
      const BYTE* q1 = x + 1 < width ? q0 + 4 : q0;
      const float p0[3] = {float(q0[2]), float(q0[1]), float(q0[0])};
      const float p1[3] = {float(q1[2]), float(q1[1]), float(q1[0])};
      float sum[3];
      for (int i = 0; i < 3; ++i) sum[i] = p0[i] + p1[i];
      const float l0 = w.luma[0] * p0[0] + w.luma[1] * p0[1] + w.luma[2] * p0[2];
      const float l1 = w.luma[0] * p1[0] + w.luma[1] * p1[1] + w.luma[2] * p1[2];
      const float du = w.cb[0] * sum[0] + w.cb[1] * sum[1] + w.cb[2] * sum[2];
      const float dv = w.cr[0] * sum[0] + w.cr[1] * sum[1] + w.cr[2] * sum[2];
      const float dc = dither[(x / 2) & 3];
      const int32_t y0 = Down(l0 * 4.0f + dither[x & 3], 1, 1019);
      const int32_t y1 = Down(l1 * 4.0f + dither[(x + 1) & 3], 1, 1019);
      const int32_t u = Down(du * 2.0f * w.chromaScale + 512.0f + dc, 1, 1019);
      const int32_t v = Down(dv * 2.0f * w.chromaScale + 512.0f + dc, 1, 1019);
      InsertField(group + 4 * yWord[c], yField[c], uint32_t(y0));
      InsertField(group + 4 * yWord[c + 1], yField[c + 1], uint32_t(y1));
      InsertField(group + 4 * uWord[c / 2], uField[c / 2], uint32_t(u));
      InsertField(group + 4 * vWord[c / 2], vField[c / 2], uint32_t(v));
    }
  }
}

const KvYuvRowKernels kPlain = {UyvyToBgraPlain,   BgraToUyvyPlain, UyvyToBgrPlain,       BgrToUyvyPlain,
                                PackedToBgraPlain, V210ToBgraPlain, SampledToBgraPlain, BgraToYuyvFixedPlain, PlanarFullPlain,
                                PlanarHalfPlain,   PlanarQuarterPlain, BgraToLumaPlain,   BgraToChromaPlain,
                                BgraToV210Plain};

#if defined(__SSE2__)

// A pair of 16-bit coefficients (lo, hi) in every 32-bit lane, for one
// multiply-add per (lo, hi) pair of samples.
inline __m128i Pair(int32_t lo, int32_t hi) {
  return _mm_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(hi)) << 16) | uint16_t(lo)));
}

// Eight pixels from 16-bit B, G, R and A (saturated to 0..255) as BGRA
// bytes: pixels 0-3 and 4-7.
inline void Bgra(__m128i b, __m128i g, __m128i r, __m128i a, __m128i& lo, __m128i& hi) {
  const __m128i br = _mm_packus_epi16(b, r);  // B0..B7 R0..R7
  const __m128i ga = _mm_packus_epi16(g, a);  // G0..G7 A0..A7
  const __m128i bg = _mm_unpacklo_epi8(br, ga), ra = _mm_unpackhi_epi8(br, ga);
  lo = _mm_unpacklo_epi16(bg, ra);
  hi = _mm_unpackhi_epi16(bg, ra);
}

// The same stored as 32 bytes.
inline void StoreBgra(BYTE* d, __m128i b, __m128i g, __m128i r, __m128i a) {
  __m128i lo, hi;
  Bgra(b, g, r, a, lo, hi);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), lo);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), hi);
}

// Even and odd lanes of two vectors: [a0 a2 b0 b2] and [a1 a3 b1 b3].
inline __m128i Evens(__m128i a, __m128i b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}
inline __m128i Odds(__m128i a, __m128i b) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
}

// Even-pixel and odd-pixel 32-bit values of four macropixels in pixel order, as 16 bits.
inline __m128i Interleave(__m128i even, __m128i odd) {
  return _mm_packs_epi32(_mm_unpacklo_epi32(even, odd), _mm_unpackhi_epi32(even, odd));
}

// B, G and R (16 bits) of the eight pixels of four UYVY macropixels.
struct UyvyTerms {
  __m128i cB, cG, cR, lowByte, bias, half;
  explicit UyvyTerms(const KvUyvyFixed& k)
      : cB(Pair(k.ub, 0)),
        cG(Pair(k.ug, k.vg)),
        cR(Pair(0, k.vr)),
        lowByte(_mm_set1_epi16(0xFF)),
        bias(_mm_set1_epi16(128)),
        half(_mm_set1_epi32(2048)) {}
  void Convert(const BYTE* s, __m128i& b, __m128i& g, __m128i& r) const {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    // U, V of each macropixel as 16-bit pairs less the bias.
    const __m128i c = _mm_sub_epi16(_mm_and_si128(p, lowByte), bias);
    const __m128i tB = _mm_madd_epi16(c, cB), tG = _mm_madd_epi16(c, cG), tR = _mm_madd_epi16(c, cR);
    const __m128i ye =
        _mm_add_epi32(_mm_slli_epi32(_mm_and_si128(_mm_srli_epi32(p, 8), _mm_set1_epi32(0xFF)), 12), half);
    const __m128i yo = _mm_add_epi32(_mm_slli_epi32(_mm_srli_epi32(p, 24), 12), half);
    b = Interleave(_mm_srai_epi32(_mm_add_epi32(tB, ye), 12), _mm_srai_epi32(_mm_add_epi32(tB, yo), 12));
    g = Interleave(_mm_srai_epi32(_mm_add_epi32(tG, ye), 12), _mm_srai_epi32(_mm_add_epi32(tG, yo), 12));
    r = Interleave(_mm_srai_epi32(_mm_add_epi32(tR, ye), 12), _mm_srai_epi32(_mm_add_epi32(tR, yo), 12));
  }
};

void UyvyToBgraSse2(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  const UyvyTerms t(k);
  const __m128i alpha = _mm_set1_epi16(255);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, s += 16, d += 32) {
    __m128i b, g, r;
    t.Convert(s, b, g, r);
    StoreBgra(d, b, g, r, alpha);
  }
  UyvyToBgraPlain(d, s, width - x, k);
}

// Four BGRA pixels (32-bit lanes) as 12 BGR bytes in the low bytes of the result.
inline __m128i PackBgr(__m128i p) {
  const __m128i rgb = _mm_and_si128(p, _mm_set1_epi32(0x00FFFFFF));
  // In each 64-bit half the second pixel moves down next to the first: six bytes.
  const __m128i lowPixel = _mm_and_si128(rgb, _mm_set_epi32(0, -1, 0, -1));
  const __m128i halves = _mm_or_si128(lowPixel, _mm_srli_epi64(_mm_andnot_si128(_mm_set_epi32(0, -1, 0, -1), rgb), 8));
  // The upper half's six bytes follow the lower half's.
  const __m128i low6 = _mm_and_si128(halves, _mm_set_epi32(0, 0, 0xFFFF, -1));
  return _mm_or_si128(low6, _mm_srli_si128(_mm_and_si128(halves, _mm_set_epi32(0xFFFF, -1, 0, 0)), 2));
}

void UyvyToBgrSse2(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  const UyvyTerms t(k);
  const __m128i alpha = _mm_setzero_si128();
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, s += 16, d += 24) {
    __m128i b, g, r;
    t.Convert(s, b, g, r);
    __m128i lo, hi;
    Bgra(b, g, r, alpha, lo, hi);
    const __m128i p0 = PackBgr(lo), p1 = PackBgr(hi);
    // Exactly 24 bytes: 12 + the first 4 of the second group, then its last 8.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm_srli_si128(p1, 4));
  }
  UyvyToBgrPlain(d, s, width - x, k);
}

// Eight pixels (two vectors of four 32-bit BGRx pixels; the fourth byte has
// weight 0) as the 16 bytes of four UYVY macropixels.
struct UyvyEncoder {
  __m128i zero, wY, wU, wV, yHalf, cBias, lo, hi;
  explicit UyvyEncoder(const KvUyvyFixed& k)
      : zero(_mm_setzero_si128()),
        wY(_mm_setr_epi16(int16_t(k.kb), int16_t(k.kg), int16_t(k.kr), 0, int16_t(k.kb), int16_t(k.kg),
                          int16_t(k.kr), 0)),
        wU(_mm_setr_epi16(int16_t(k.ub2), int16_t(k.ug2), int16_t(k.ur), 0, int16_t(k.ub2), int16_t(k.ug2),
                          int16_t(k.ur), 0)),
        wV(_mm_setr_epi16(int16_t(k.vb2), int16_t(k.vg2), int16_t(k.vr2), 0, int16_t(k.vb2), int16_t(k.vg2),
                          int16_t(k.vr2), 0)),
        yHalf(_mm_set1_epi32(2048)),
        cBias(_mm_set1_epi32(526336)),
        lo(_mm_set1_epi16(1)),
        hi(_mm_set1_epi16(254)) {}
  __m128i Convert(__m128i p0, __m128i p1) const {
    // Two pixels of 16-bit B, G, R, A in each vector.
    const __m128i a0 = _mm_unpacklo_epi8(p0, zero), a1 = _mm_unpackhi_epi8(p0, zero);
    const __m128i a2 = _mm_unpacklo_epi8(p1, zero), a3 = _mm_unpackhi_epi8(p1, zero);
    // Luma: per pixel the (B, G) and (R, A) products, added pairwise.
    const __m128i m0 = _mm_madd_epi16(a0, wY), m1 = _mm_madd_epi16(a1, wY);
    const __m128i m2 = _mm_madd_epi16(a2, wY), m3 = _mm_madd_epi16(a3, wY);
    const __m128i y03 = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(Evens(m0, m1), Odds(m0, m1)), yHalf), 12);
    const __m128i y47 = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(Evens(m2, m3), Odds(m2, m3)), yHalf), 12);
    // The sums of each macropixel's two pixels.
    const __m128i s01 = _mm_add_epi16(_mm_unpacklo_epi64(a0, a1), _mm_unpackhi_epi64(a0, a1));
    const __m128i s23 = _mm_add_epi16(_mm_unpacklo_epi64(a2, a3), _mm_unpackhi_epi64(a2, a3));
    const __m128i u0 = _mm_madd_epi16(s01, wU), u1 = _mm_madd_epi16(s23, wU);
    const __m128i v0 = _mm_madd_epi16(s01, wV), v1 = _mm_madd_epi16(s23, wV);
    const __m128i u = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(Evens(u0, u1), Odds(u0, u1)), cBias), 12);
    const __m128i v = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(Evens(v0, v1), Odds(v0, v1)), cBias), 12);
    // U0 V0 U1 V1 .. and Y0 .. Y7, clamped, interleaved into U Y V Y.
    const __m128i uv = _mm_packs_epi32(u, v);  // U0..U3 V0..V3
    __m128i c16 = _mm_unpacklo_epi16(uv, _mm_unpackhi_epi64(uv, uv));
    __m128i y16 = _mm_packs_epi32(y03, y47);
    c16 = _mm_min_epi16(_mm_max_epi16(c16, lo), hi);
    y16 = _mm_min_epi16(_mm_max_epi16(y16, lo), hi);
    const __m128i c8 = _mm_packus_epi16(c16, c16), y8 = _mm_packus_epi16(y16, y16);
    return _mm_unpacklo_epi8(c8, y8);
  }
};

void BgraToUyvySse2(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  const UyvyEncoder e(k);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, s += 32, d += 16) {
    const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), e.Convert(p0, p1));
  }
  BgraToUyvyPlain(d, s, width - x, k);
}

void BgraToYuyvFixedSse2(BYTE* d, const BYTE* s, int32_t width, bool bt709) {
  const YuyvWeights& w = bt709 ? kYuyv709 : kYuyv601;
  auto weights = [](const int32_t k[3]) {
    return _mm_setr_epi16(int16_t(k[0]), int16_t(k[1]), int16_t(k[2]), 0, int16_t(k[0]), int16_t(k[1]),
                          int16_t(k[2]), 0);
  };
  const __m128i zero = _mm_setzero_si128(), wY = weights(w.y), wU = weights(w.u), wV = weights(w.v);
  const __m128i yBias = _mm_set1_epi32(32), cBias = _mm_set1_epi32(8224);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, s += 32, d += 16) {
    const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    // Two pixels of 16-bit B, G, R, A in each vector (A has weight 0).
    const __m128i a0 = _mm_unpacklo_epi8(p0, zero), a1 = _mm_unpackhi_epi8(p0, zero);
    const __m128i a2 = _mm_unpacklo_epi8(p1, zero), a3 = _mm_unpackhi_epi8(p1, zero);
    const __m128i m0 = _mm_madd_epi16(a0, wY), m1 = _mm_madd_epi16(a1, wY);
    const __m128i m2 = _mm_madd_epi16(a2, wY), m3 = _mm_madd_epi16(a3, wY);
    // ((sum >> 8) + 32) >> 6 and ((sum >> 9) + 8224) >> 6, both shifts arithmetic.
    auto luma = [&yBias](__m128i a, __m128i b) {
      return _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(Evens(a, b), Odds(a, b)), 8), yBias), 6);
    };
    auto chroma = [&cBias](__m128i a, __m128i b) {
      return _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(Evens(a, b), Odds(a, b)), 9), cBias), 6);
    };
    const __m128i y03 = luma(m0, m1), y47 = luma(m2, m3);
    // The sums of each macropixel's two pixels.
    const __m128i s01 = _mm_add_epi16(_mm_unpacklo_epi64(a0, a1), _mm_unpackhi_epi64(a0, a1));
    const __m128i s23 = _mm_add_epi16(_mm_unpacklo_epi64(a2, a3), _mm_unpackhi_epi64(a2, a3));
    const __m128i u0 = _mm_madd_epi16(s01, wU), u1 = _mm_madd_epi16(s23, wU);
    const __m128i v0 = _mm_madd_epi16(s01, wV), v1 = _mm_madd_epi16(s23, wV);
    const __m128i u = chroma(u0, u1), v = chroma(v0, v1);
    // Saturating packs clamp to 0..255; Y0 U0 Y1 V0 ...
    const __m128i uv = _mm_packs_epi32(u, v);  // U0..U3 V0..V3
    const __m128i c16 = _mm_unpacklo_epi16(uv, _mm_unpackhi_epi64(uv, uv));
    const __m128i y16 = _mm_packs_epi32(y03, y47);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_unpacklo_epi8(_mm_packus_epi16(y16, y16), _mm_packus_epi16(c16, c16)));
  }
  BgraToYuyvFixedPlain(d, s, width - x, bt709);
}

// Four BGR pixels (the low 12 bytes) spread into 32-bit lanes, the fourth
// byte of each 0.
inline __m128i UnpackBgr(__m128i v) {
  // Pixels 2 and 3 (bytes 6..11) move to the upper 64-bit half.
  const __m128i lowHalf = _mm_set_epi32(0, 0, -1, -1);
  const __m128i halves = _mm_or_si128(_mm_and_si128(v, lowHalf), _mm_andnot_si128(lowHalf, _mm_slli_si128(v, 2)));
  // In each half the second pixel (bytes 3..5) moves up to bytes 4..6.
  const __m128i first = _mm_and_si128(halves, _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF));
  const __m128i second = _mm_and_si128(_mm_slli_epi64(halves, 8), _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0));
  return _mm_or_si128(first, second);
}

void BgrToUyvySse2(BYTE* d, const BYTE* s, int32_t width, const KvUyvyFixed& k) {
  const UyvyEncoder e(k);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, s += 24, d += 16) {
    // 24 bytes: 16 and 8, nothing read past the eighth pixel.
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 16));
    const __m128i p0 = UnpackBgr(a);
    const __m128i p1 = UnpackBgr(_mm_or_si128(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), e.Convert(p0, p1));
  }
  BgrToUyvyPlain(d, s, width - x, k);
}

// The plain kernel's Round8 for values that are never NaN: clamped to
// 0..255, plus one half, truncated (the sum is never negative, so truncation
// is the floor).
inline __m128i Round8Sse2(__m128 v) {
  const __m128 c = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f));
  return _mm_cvttps_epi32(_mm_add_ps(c, _mm_set1_ps(0.5f)));
}

void PackedToBgraSse2(BYTE* d, const BYTE* s, int32_t width, bool uyvy, const float k[4]) {
  const __m128 kVR = _mm_set1_ps(k[0]), kUG = _mm_set1_ps(k[1]), kVG = _mm_set1_ps(k[2]), kUB = _mm_set1_ps(k[3]);
  const __m128 bias = _mm_set1_ps(128.0f);
  const __m128i lowByte = _mm_set1_epi16(0xFF), low16 = _mm_set1_epi32(0xFFFF), zero = _mm_setzero_si128();
  const __m128i alpha = _mm_set1_epi16(255);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, s += 16, d += 32) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    // Luma and chroma bytes as 16-bit lanes; chroma U0 V0 U1 V1 ...
    const __m128i y16 = uyvy ? _mm_srli_epi16(p, 8) : _mm_and_si128(p, lowByte);
    const __m128i c16 = uyvy ? _mm_and_si128(p, lowByte) : _mm_srli_epi16(p, 8);
    const __m128 u = _mm_sub_ps(_mm_cvtepi32_ps(_mm_and_si128(c16, low16)), bias);
    const __m128 v = _mm_sub_ps(_mm_cvtepi32_ps(_mm_srli_epi32(c16, 16)), bias);
    __m128i ch[3][2];
    for (int half = 0; half < 2; ++half) {
      // Pixels 4 half .. 4 half + 3; each chroma pair serves two pixels.
      const __m128 uu = half ? _mm_unpackhi_ps(u, u) : _mm_unpacklo_ps(u, u);
      const __m128 vv = half ? _mm_unpackhi_ps(v, v) : _mm_unpacklo_ps(v, v);
      const __m128 yy = _mm_cvtepi32_ps(half ? _mm_unpackhi_epi16(y16, zero) : _mm_unpacklo_epi16(y16, zero));
      ch[0][half] = Round8Sse2(_mm_add_ps(yy, _mm_mul_ps(kUB, uu)));
      ch[1][half] = Round8Sse2(_mm_add_ps(_mm_add_ps(yy, _mm_mul_ps(kUG, uu)), _mm_mul_ps(kVG, vv)));
      ch[2][half] = Round8Sse2(_mm_add_ps(yy, _mm_mul_ps(kVR, vv)));
    }
    StoreBgra(d, _mm_packs_epi32(ch[0][0], ch[0][1]), _mm_packs_epi32(ch[1][0], ch[1][1]),
              _mm_packs_epi32(ch[2][0], ch[2][1]), alpha);
  }
  PackedToBgraPlain(d, s, width - x, uyvy, k);
}

void V210ToBgraSse2(BYTE* d, const BYTE* s, int32_t width, const float k[4]) {
  const __m128 kVR = _mm_set1_ps(k[0]), kUG = _mm_set1_ps(k[1]), kVG = _mm_set1_ps(k[2]), kUB = _mm_set1_ps(k[3]);
  const __m128 quarter = _mm_set1_ps(0.25f), bias = _mm_set1_ps(512.0f);
  const __m128i alpha = _mm_set1_epi16(255);
  int32_t x = 0;
  // Two groups (twelve pixels) a step: the samples taken out of their words,
  // then the arithmetic four pixels at a time, eight pixels a store.
  for (; x + 12 <= width; x += 12, s += 32) {
    int32_t y[12], u[12], v[12];
    V210Group(s, y, u, v);
    V210Group(s + 16, y + 6, u + 6, v + 6);
    __m128i ch[3][3];
    auto load = [](const int32_t* p) { return _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))); };
    for (int q = 0; q < 3; ++q) {
      const __m128 yy = _mm_mul_ps(load(y + 4 * q), quarter);
      const __m128 uu = _mm_sub_ps(load(u + 4 * q), bias), vv = _mm_sub_ps(load(v + 4 * q), bias);
      ch[0][q] = Round8Sse2(_mm_add_ps(yy, _mm_mul_ps(kUB, uu)));
      ch[1][q] = Round8Sse2(_mm_add_ps(_mm_add_ps(yy, _mm_mul_ps(kUG, uu)), _mm_mul_ps(kVG, vv)));
      ch[2][q] = Round8Sse2(_mm_add_ps(yy, _mm_mul_ps(kVR, vv)));
    }
    BYTE out[64];
    StoreBgra(out, _mm_packs_epi32(ch[0][0], ch[0][1]), _mm_packs_epi32(ch[1][0], ch[1][1]),
              _mm_packs_epi32(ch[2][0], ch[2][1]), alpha);
    StoreBgra(out + 32, _mm_packs_epi32(ch[0][2], ch[0][2]), _mm_packs_epi32(ch[1][2], ch[1][2]),
              _mm_packs_epi32(ch[2][2], ch[2][2]), alpha);
    std::memcpy(d + int64_t(x) * 4, out, 48);
  }
  V210ToBgraPlain(d + int64_t(x) * 4, s, width - x, k);
}

// Eight samples a step, gathered from their strided bytes into 16-bit lanes;
// then the packed kernel's operations in the same order, four pixels at a
// time.
void SampledToBgraSse2(BYTE* d, const BYTE* y, const BYTE* u, const BYTE* v, int32_t width, int32_t yStep,
                       int32_t cStep, const float k[4]) {
  const __m128 kVR = _mm_set1_ps(k[0]), kUG = _mm_set1_ps(k[1]), kVG = _mm_set1_ps(k[2]), kUB = _mm_set1_ps(k[3]);
  const __m128 bias = _mm_set1_ps(128.0f);
  const __m128i zero = _mm_setzero_si128(), alpha = _mm_set1_epi16(255);
  auto gather = [](const BYTE* p, int32_t step) {
    return _mm_setr_epi16(p[0], p[step], p[2 * step], p[3 * step], p[4 * step], p[5 * step], p[6 * step],
                          p[7 * step]);
  };
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, d += 32) {
    const __m128i y16 = gather(y + int64_t(x) * yStep, yStep);
    const __m128i u16 = gather(u + int64_t(x) * cStep, cStep), v16 = gather(v + int64_t(x) * cStep, cStep);
    __m128i ch[3][2];
    for (int half = 0; half < 2; ++half) {
      const __m128 yy = _mm_cvtepi32_ps(half ? _mm_unpackhi_epi16(y16, zero) : _mm_unpacklo_epi16(y16, zero));
      const __m128 uu =
          _mm_sub_ps(_mm_cvtepi32_ps(half ? _mm_unpackhi_epi16(u16, zero) : _mm_unpacklo_epi16(u16, zero)), bias);
      const __m128 vv =
          _mm_sub_ps(_mm_cvtepi32_ps(half ? _mm_unpackhi_epi16(v16, zero) : _mm_unpacklo_epi16(v16, zero)), bias);
      ch[0][half] = Round8Sse2(_mm_add_ps(yy, _mm_mul_ps(kUB, uu)));
      ch[1][half] = Round8Sse2(_mm_add_ps(_mm_add_ps(yy, _mm_mul_ps(kUG, uu)), _mm_mul_ps(kVG, vv)));
      ch[2][half] = Round8Sse2(_mm_add_ps(yy, _mm_mul_ps(kVR, vv)));
    }
    StoreBgra(d, _mm_packs_epi32(ch[0][0], ch[0][1]), _mm_packs_epi32(ch[1][0], ch[1][1]),
              _mm_packs_epi32(ch[2][0], ch[2][1]), alpha);
  }
  SampledToBgraPlain(d, y + int64_t(x) * yStep, u + int64_t(x) * cStep, v + int64_t(x) * cStep, width - x, yStep,
                     cStep, k);
}

void PlanarFullSse2(BYTE* d, const BYTE* y, const BYTE* u, const BYTE* v, int32_t width, const KvYUVMatrixQ14& m) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i cB = Pair(m.chromaQ14[0], m.chromaQ14[1]), cG = Pair(m.chromaQ14[2], m.chromaQ14[3]),
                cR = Pair(m.chromaQ14[4], m.chromaQ14[5]);
  const __m128i oB = _mm_set1_epi32(m.offsetQ14[0]), oG = _mm_set1_epi32(m.offsetQ14[1]),
                oR = _mm_set1_epi32(m.offsetQ14[2]);
  const __m128i alpha = _mm_set1_epi16(255);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    int32_t u4, v4;
    std::memcpy(&u4, u + x / 2, 4);
    std::memcpy(&v4, v + x / 2, 4);
    const __m128i uv = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(u4), _mm_cvtsi32_si128(v4)), zero);
    const __m128i tB = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uv, cB), oB), 14);
    const __m128i tG = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uv, cG), oG), 14);
    const __m128i tR = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uv, cR), oR), 14);
    const __m128i tBG = _mm_packs_epi32(tB, tG), tRR = _mm_packs_epi32(tR, tR);
    const __m128i y16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), zero);
    // Each chroma term serves two neighbouring pixels.
    const __m128i b = _mm_add_epi16(y16, _mm_unpacklo_epi16(tBG, tBG));
    const __m128i g = _mm_add_epi16(y16, _mm_unpackhi_epi16(tBG, tBG));
    const __m128i r = _mm_add_epi16(y16, _mm_unpacklo_epi16(tRR, tRR));
    StoreBgra(d + int64_t(x) * 4, b, g, r, alpha);
  }
  PlanarFullPlain(d + int64_t(x) * 4, y + x, u + x / 2, v + x / 2, width - x, m);
}

void PlanarHalfSse2(BYTE* d, const BYTE* y0, const BYTE* y1, const BYTE* u0, const BYTE* u1, const BYTE* v0,
                    const BYTE* v1, int32_t outWidth, bool blend, const KvYUVMatrixQ14& m) {
  const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1), alpha = _mm_set1_epi16(255);
  const int32_t times = blend ? 2 : 1;
  const __m128i c[3] = {Pair(m.chromaQ14[0], m.chromaQ14[1]), Pair(m.chromaQ14[2], m.chromaQ14[3]),
                        Pair(m.chromaQ14[4], m.chromaQ14[5])};
  const __m128i o[3] = {_mm_set1_epi32(times * m.offsetQ14[0]), _mm_set1_epi32(times * m.offsetQ14[1]),
                        _mm_set1_epi32(times * m.offsetQ14[2])};
  const __m128i shift = _mm_cvtsi32_si128(blend ? 2 : 1);
  auto load8 = [&zero](const BYTE* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  };
  int32_t x = 0;
  for (; x + 8 <= outWidth; x += 8) {
    __m128i us = load8(u0 + x), vs = load8(v0 + x);
    const __m128i l0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y0 + 2 * x));
    __m128i ylo = _mm_unpacklo_epi8(l0, zero), yhi = _mm_unpackhi_epi8(l0, zero);
    if (blend) {
      us = _mm_add_epi16(us, load8(u1 + x));
      vs = _mm_add_epi16(vs, load8(v1 + x));
      const __m128i l1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y1 + 2 * x));
      ylo = _mm_add_epi16(ylo, _mm_unpacklo_epi8(l1, zero));
      yhi = _mm_add_epi16(yhi, _mm_unpackhi_epi8(l1, zero));
    }
    // The luma sums of output pixels 0-3 and 4-7, and their chroma pairs.
    const __m128i slo = _mm_madd_epi16(ylo, ones), shi = _mm_madd_epi16(yhi, ones);
    const __m128i uvlo = _mm_unpacklo_epi16(us, vs), uvhi = _mm_unpackhi_epi16(us, vs);
    __m128i ch[3];
    for (int k = 0; k < 3; ++k) {
      const __m128i tlo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uvlo, c[k]), o[k]), 13);
      const __m128i thi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uvhi, c[k]), o[k]), 13);
      ch[k] =
          _mm_packs_epi32(_mm_sra_epi32(_mm_add_epi32(tlo, slo), shift), _mm_sra_epi32(_mm_add_epi32(thi, shi), shift));
    }
    StoreBgra(d + int64_t(x) * 4, ch[0], ch[1], ch[2], alpha);
  }
  PlanarHalfPlain(d + int64_t(x) * 4, y0 + 2 * x, y1 + 2 * x, u0 + x, u1 + x, v0 + x, v1 + x, outWidth - x, blend, m);
}

// Four luma rows' (or two rows') sums of four columns for eight output
// pixels: 32 bytes of each row.
inline void LumaGroups(const BYTE* const* y, int rows, int32_t at, __m128i& g03, __m128i& g47) {
  const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1);
  __m128i s[4] = {zero, zero, zero, zero};  // 16-bit column sums of bytes 0-7, 8-15, 16-23, 24-31
  for (int r = 0; r < rows; ++r) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y[r] + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y[r] + at + 16));
    s[0] = _mm_add_epi16(s[0], _mm_unpacklo_epi8(a, zero));
    s[1] = _mm_add_epi16(s[1], _mm_unpackhi_epi8(a, zero));
    s[2] = _mm_add_epi16(s[2], _mm_unpacklo_epi8(b, zero));
    s[3] = _mm_add_epi16(s[3], _mm_unpackhi_epi8(b, zero));
  }
  // Pairs, then pairs of pairs: the sums of columns 4x .. 4x + 3.
  const __m128i p0 = _mm_madd_epi16(s[0], ones), p1 = _mm_madd_epi16(s[1], ones);
  const __m128i p2 = _mm_madd_epi16(s[2], ones), p3 = _mm_madd_epi16(s[3], ones);
  g03 = _mm_add_epi32(Evens(p0, p1), Odds(p0, p1));
  g47 = _mm_add_epi32(Evens(p2, p3), Odds(p2, p3));
}

// The 2 x 2 chroma sums of eight output pixels as 16-bit values.
inline __m128i ChromaBlocks(const BYTE* c0, const BYTE* c1) {
  const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1);
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c1));
  const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
  const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
  return _mm_packs_epi32(_mm_madd_epi16(lo, ones), _mm_madd_epi16(hi, ones));
}

void PlanarQuarterSse2(BYTE* d, const BYTE* const* y, int lumaRows, const BYTE* u0, const BYTE* u1, const BYTE* v0,
                       const BYTE* v1, int32_t outWidth, const KvYUVMatrixQ14& m) {
  const __m128i alpha = _mm_set1_epi16(255);
  const __m128i c[3] = {Pair(m.chromaQ14[0], m.chromaQ14[1]), Pair(m.chromaQ14[2], m.chromaQ14[3]),
                        Pair(m.chromaQ14[4], m.chromaQ14[5])};
  const __m128i o[3] = {_mm_set1_epi32(4 * m.offsetQ14[0]), _mm_set1_epi32(4 * m.offsetQ14[1]),
                        _mm_set1_epi32(4 * m.offsetQ14[2])};
  const __m128i chromaShift = _mm_cvtsi32_si128(lumaRows == 4 ? 12 : 13);
  const __m128i shift = _mm_cvtsi32_si128(lumaRows == 4 ? 4 : 3);
  int32_t x = 0;
  for (; x + 8 <= outWidth; x += 8) {
    __m128i slo, shi;
    LumaGroups(y, lumaRows, 4 * x, slo, shi);
    const __m128i us = ChromaBlocks(u0 + 2 * x, u1 + 2 * x), vs = ChromaBlocks(v0 + 2 * x, v1 + 2 * x);
    const __m128i uvlo = _mm_unpacklo_epi16(us, vs), uvhi = _mm_unpackhi_epi16(us, vs);
    __m128i ch[3];
    for (int k = 0; k < 3; ++k) {
      const __m128i tlo = _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(uvlo, c[k]), o[k]), chromaShift);
      const __m128i thi = _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(uvhi, c[k]), o[k]), chromaShift);
      ch[k] =
          _mm_packs_epi32(_mm_sra_epi32(_mm_add_epi32(tlo, slo), shift), _mm_sra_epi32(_mm_add_epi32(thi, shi), shift));
    }
    StoreBgra(d + int64_t(x) * 4, ch[0], ch[1], ch[2], alpha);
  }
  const BYTE* rest[4];
  for (int r = 0; r < lumaRows; ++r) rest[r] = y[r] + 4 * x;
  PlanarQuarterPlain(d + int64_t(x) * 4, rest, lumaRows, u0 + 2 * x, u1 + 2 * x, v0 + 2 * x, v1 + 2 * x,
                     outWidth - x, m);
}

// B, G and R of four BGRA pixels as floats.
inline void Channels(__m128i p, __m128& b, __m128& g, __m128& r) {
  const __m128i low = _mm_set1_epi32(0xFF);
  b = _mm_cvtepi32_ps(_mm_and_si128(p, low));
  g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 8), low));
  r = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 16), low));
}

// The plain kernels' "clamp to 1..254, then round down": for a float above
// 1 that is its integer part (its fraction is either 0 or at least 2^-23,
// far from the 1.5e-8 the rounding leaves), so a clamp and a truncation give
// the same values. Eight values, as bytes.
inline __m128i DownBytes(__m128 a, __m128 b) {
  const __m128 lo = _mm_set1_ps(1.0f), hi = _mm_set1_ps(254.0f);
  const __m128i ia = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(a, lo), hi));
  const __m128i ib = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(b, lo), hi));
  const __m128i w = _mm_packs_epi32(ia, ib);
  return _mm_packus_epi16(w, w);
}

// Kr R + Kg G + Kb B, added in the plain kernel's order.
inline __m128 Weighted(const float k[3], __m128 r, __m128 g, __m128 b) {
  return _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(k[0]), r), _mm_mul_ps(_mm_set1_ps(k[1]), g)),
                    _mm_mul_ps(_mm_set1_ps(k[2]), b));
}

void BgraToLumaSse2(BYTE* d, const BYTE* s, int32_t width, const KvI420Weights& w, const float dither[4]) {
  // Eight pixels a step starting at a multiple of 4: the dither row repeats.
  const __m128 dv = _mm_loadu_ps(dither);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    __m128 b0, g0, r0, b1, g1, r1;
    Channels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + int64_t(x) * 4)), b0, g0, r0);
    Channels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + int64_t(x) * 4 + 16)), b1, g1, r1);
    const __m128i bytes =
        DownBytes(_mm_add_ps(Weighted(w.luma, r0, g0, b0), dv), _mm_add_ps(Weighted(w.luma, r1, g1, b1), dv));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + x), bytes);
  }
  // x is a multiple of 8, so the dither columns of the rest line up.
  BgraToLumaPlain(d + x, s + int64_t(x) * 4, width - x, w, dither);
}

void BgraToChromaSse2(BYTE* u, BYTE* v, const BYTE* s0, const BYTE* s1, int32_t cw, const KvI420Weights& w,
                      const float dither[4]) {
  const __m128 dv = _mm_loadu_ps(dither), bias = _mm_set1_ps(128.0f), scale = _mm_set1_ps(w.chromaScale);
  const __m128i zero = _mm_setzero_si128();
  int32_t cc = 0;
  // Eight blocks (16 pixels of each row) a step. The sums of four bytes are
  // exact in any order, as the plain kernel's float sums are.
  for (; cc + 8 <= cw; cc += 8) {
    __m128 sr[2], sg[2], sb[2];
    for (int half = 0; half < 2; ++half) {
      const int64_t at = int64_t(cc + 4 * half) * 8;
      __m128i sum[2];
      for (int k = 0; k < 2; ++k) {
        // Pixels 2j and 2j + 1 of both rows, as 16-bit channel sums per block.
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + at + 16 * k));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + at + 16 * k));
        const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(a1, zero));
        const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(a1, zero));
        // lo: pixels 0 and 1 of the pair; hi: pixels 2 and 3.
        sum[k] = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));  // B G R A of 2 blocks
      }
      // Four blocks' (B, G) and (R, A) sums as 32-bit lanes, blocks in order.
      const __m128i bgo = Evens(sum[0], sum[1]), rao = Odds(sum[0], sum[1]);
      const __m128i mask = _mm_set1_epi32(0xFFFF);
      sb[half] = _mm_cvtepi32_ps(_mm_and_si128(bgo, mask));
      sg[half] = _mm_cvtepi32_ps(_mm_srli_epi32(bgo, 16));
      sr[half] = _mm_cvtepi32_ps(_mm_and_si128(rao, mask));
    }
    __m128 cu[2], cv[2];
    for (int half = 0; half < 2; ++half) {
      cu[half] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(Weighted(w.cb, sr[half], sg[half], sb[half]), scale), bias), dv);
      cv[half] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(Weighted(w.cr, sr[half], sg[half], sb[half]), scale), bias), dv);
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u + cc), DownBytes(cu[0], cu[1]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v + cc), DownBytes(cv[0], cv[1]));
  }
  BgraToChromaPlain(u + cc, v + cc, s0 + int64_t(cc) * 8, s1 + int64_t(cc) * 8, cw - cc, w, dither);
}

// The v210 encoder's "clamp to 1..1019, then round down", four values: as
// with DownBytes, a float of 1 or more has a fraction of 0 or at least 2^-23
// (and at most 1 - 2^-23), so rounding it less 0.499999985 to nearest gives
// its integer part, which a truncation gives too.
inline __m128i Down10(__m128 a) {
  return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(a, _mm_set1_ps(1.0f)), _mm_set1_ps(1019.0f)));
}

// Four groups (24 pixels, 64 bytes) a step: the luma of four pixels and the
// chroma of four pairs per vector, with the plain kernel's float operations
// in its order; the fields are then packed into the words, whose bits 30-31
// are kept. A step starts at a multiple of 24, so the dither vector serves
// luma (column x & 3) and chroma (column (x / 2) & 3) alike, and the plain
// kernel finishes the row with its columns lined up.
void BgraToV210Sse2(BYTE* d, const BYTE* s, int32_t width, const KvI420Weights& w, const float dither[4]) {
  const __m128 dv = _mm_loadu_ps(dither), four = _mm_set1_ps(4.0f), two = _mm_set1_ps(2.0f);
  const __m128 scale = _mm_set1_ps(w.chromaScale), bias = _mm_set1_ps(512.0f);
  int32_t x = 0;
  for (; x + 24 <= width; x += 24, s += 96, d += 64) {
    alignas(16) int32_t y[24], u[12], v[12];
    for (int k = 0; k < 6; ++k) {
      __m128 b, g, r;
      Channels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * k)), b, g, r);
      _mm_store_si128(reinterpret_cast<__m128i*>(y + 4 * k),
                      Down10(_mm_add_ps(_mm_mul_ps(Weighted(w.luma, r, g, b), four), dv)));
    }
    for (int k = 0; k < 3; ++k) {
      // Pixels 8k .. 8k + 7: the first and second of each pair.
      const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32 * k));
      const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32 * k + 16));
      __m128 b0, g0, r0, b1, g1, r1;
      Channels(Evens(a0, a1), b0, g0, r0);
      Channels(Odds(a0, a1), b1, g1, r1);
      const __m128 sr = _mm_add_ps(r0, r1), sg = _mm_add_ps(g0, g1), sb = _mm_add_ps(b0, b1);
      auto chroma = [&](const float k[3]) {
        return _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(Weighted(k, sr, sg, sb), two), scale), bias), dv);
      };
      const __m128 cu = chroma(w.cb), cv = chroma(w.cr);
      _mm_store_si128(reinterpret_cast<__m128i*>(u + 4 * k), Down10(cu));
      _mm_store_si128(reinterpret_cast<__m128i*>(v + 4 * k), Down10(cv));
    }
    // Words: U0 Y0 V0 | Y1 U1 Y2 | V1 Y3 U2 | Y4 V2 Y5, fields from bit 0.
    for (int g = 0; g < 4; ++g) {
      const int32_t* yy = y + 6 * g;
      const int32_t* uu = u + 3 * g;
      const int32_t* vv = v + 3 * g;
      uint32_t words[4];
      std::memcpy(words, d + 16 * g, 16);
      words[0] = (words[0] & 0xC0000000u) | uint32_t(uu[0] | yy[0] << 10 | vv[0] << 20);
      words[1] = (words[1] & 0xC0000000u) | uint32_t(yy[1] | uu[1] << 10 | yy[2] << 20);
      words[2] = (words[2] & 0xC0000000u) | uint32_t(vv[1] | yy[3] << 10 | uu[2] << 20);
      words[3] = (words[3] & 0xC0000000u) | uint32_t(yy[4] | vv[2] << 10 | yy[5] << 20);
      std::memcpy(d + 16 * g, words, 16);
    }
  }
  BgraToV210Plain(d, s, width - x, w, dither);
}

const KvYuvRowKernels kSse2 = {UyvyToBgraSse2,   BgraToUyvySse2, UyvyToBgrSse2,       BgrToUyvySse2,
                               PackedToBgraSse2, V210ToBgraSse2, SampledToBgraSse2, BgraToYuyvFixedSse2, PlanarFullSse2,
                               PlanarHalfSse2,   PlanarQuarterSse2, BgraToLumaSse2,   BgraToChromaSse2,
                               BgraToV210Sse2};

#else

const KvYuvRowKernels& kSse2 = kPlain;

#endif

}  // namespace

const KvYuvRowKernels& KvYuvKernelsPlain() { return kPlain; }
const KvYuvRowKernels& KvYuvKernelsSse2() { return kSse2; }
const KvYuvRowKernels& KvYuvKernelsFor(DWORD cpuFeatures) { return (cpuFeatures & KVCPU_SSE2) ? kSse2 : kPlain; }
const KvYuvRowKernels& KvYuvKernels() {
  static const KvYuvRowKernels& chosen = KvYuvKernelsFor(KvImageCpu_GetSupport(KVCPU_SSE2));
  return chosen;
}
