// Hybrid analysis filter bank of parametric stereo.
#include "ps_hybrid.h"

#include <cmath>
#include <mutex>

#include <xmmintrin.h>

#include "sbr_tables.h"

namespace {

using cf = std::complex<float>;

// Order of the hybrid bands: the filter output feeding hybrid band k (QMF
// band 0: outputs 0..7 of the 8-band split, 2+5 and 3+4 merged; QMF bands 1
// and 2: outputs 8/9 and 10/11 of the two 2-band splits).
constexpr int kHybridOrder[kPsHybridBands] = {6, 7, 0, 1, 2, 3, 9, 8, 10, 11};

struct Filters {
  cf g8[8][13];     // 8-band complex filters
  float g2[2][13];  // 2-band real filters
  // The same by tap for the vector kernel: the eight complex filters' real
  // and imaginary parts, and the two real filters twice (QMF bands 1 and 2).
  alignas(16) float g8re[13][8];
  alignas(16) float g8im[13][8];
  alignas(16) float g2x2[13][4];
};

Filters gFilters;
std::once_flag gFiltersOnce;

void initFilters() {
  for (int q = 0; q < 8; q++)
    for (int n = 0; n < 13; n++) {
      double g = sbrtab::psG8Qmf0[n <= 6 ? n : 12 - n];
      double ph = 2.0 * M_PI / 8.0 * (q + 0.5) * (n - 6);
      gFilters.g8[q][n] = cf(static_cast<float>(g * std::cos(ph)), static_cast<float>(g * std::sin(ph)));
    }
  for (int q = 0; q < 2; q++)
    for (int n = 0; n < 13; n++) {
      double g = sbrtab::psG2Qmf12[n <= 6 ? n : 12 - n];
      gFilters.g2[q][n] = static_cast<float>(g * std::cos(M_PI * q * (n - 6)));
    }
  for (int n = 0; n < 13; n++) {
    for (int q = 0; q < 8; q++) {
      gFilters.g8re[n][q] = gFilters.g8[q][n].real();
      gFilters.g8im[n][q] = gFilters.g8[q][n].imag();
    }
    for (int q = 0; q < 4; q++) gFilters.g2x2[n][q] = gFilters.g2[q & 1][n];
  }
}

}  // namespace

void psHybridAnalysis(const cf (*in)[3], int slots, cf* out, int stride) {
  std::call_once(gFiltersOnce, initFilters);
  const Filters& t = gFilters;
  // All filters of a slot at once, one filter per vector lane: the eight
  // complex filters of QMF band 0 in two registers (real and imaginary parts
  // apart), the four real ones of bands 1 and 2 in one. Each output adds
  // its thirteen products in tap order, as the complex arithmetic would.
  for (int n = 0; n < slots; n++) {
    __m128 r0 = _mm_setzero_ps(), r1 = r0, i0 = r0, i1 = r0, r2 = r0, i2 = r0;
    for (int i = 0; i < 13; i++) {
      const float* x = reinterpret_cast<const float*>(in[n + kPsHybridHistory - i]);  // bands 0..2, re and im
      const __m128 xr = _mm_set1_ps(x[0]), xi = _mm_set1_ps(x[1]);
      const __m128 gr0 = _mm_load_ps(t.g8re[i]), gr1 = _mm_load_ps(t.g8re[i] + 4);
      const __m128 gi0 = _mm_load_ps(t.g8im[i]), gi1 = _mm_load_ps(t.g8im[i] + 4);
      r0 = _mm_add_ps(r0, _mm_sub_ps(_mm_mul_ps(gr0, xr), _mm_mul_ps(gi0, xi)));
      r1 = _mm_add_ps(r1, _mm_sub_ps(_mm_mul_ps(gr1, xr), _mm_mul_ps(gi1, xi)));
      i0 = _mm_add_ps(i0, _mm_add_ps(_mm_mul_ps(gr0, xi), _mm_mul_ps(gi0, xr)));
      i1 = _mm_add_ps(i1, _mm_add_ps(_mm_mul_ps(gr1, xi), _mm_mul_ps(gi1, xr)));
      const __m128 g2 = _mm_load_ps(t.g2x2[i]);
      r2 = _mm_add_ps(r2, _mm_mul_ps(g2, _mm_set_ps(x[4], x[4], x[2], x[2])));
      i2 = _mm_add_ps(i2, _mm_mul_ps(g2, _mm_set_ps(x[5], x[5], x[3], x[3])));
    }
    alignas(16) float re[12], im[12];  // outputs 0..7 of band 0, then 8..11 of bands 1 and 2
    _mm_store_ps(re, r0);
    _mm_store_ps(re + 4, r1);
    _mm_store_ps(re + 8, r2);
    _mm_store_ps(im, i0);
    _mm_store_ps(im + 4, i1);
    _mm_store_ps(im + 8, i2);
    re[2] += re[5];
    im[2] += im[5];
    re[3] += re[4];
    im[3] += im[4];
    cf* row = out + static_cast<ptrdiff_t>(n) * stride;
    for (int k = 0; k < kPsHybridBands; k++) {
      const int o = kHybridOrder[k];
      row[k] = cf(re[o], im[o]);
    }
  }
}
