// Hybrid analysis filter bank of parametric stereo.
#include "ps_hybrid.h"

#include <cmath>
#include <mutex>

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
}

}  // namespace

void psHybridAnalysis(const cf (*in)[3], int slots, cf* out, int stride) {
  std::call_once(gFiltersOnce, initFilters);
  const Filters& t = gFilters;
  for (int n = 0; n < slots; n++) {
    cf out8[8];
    for (int q = 0; q < 8; q++) {
      cf acc = 0.0f;
      for (int i = 0; i < 13; i++) acc += t.g8[q][i] * in[n + kPsHybridHistory - i][0];
      out8[q] = acc;
    }
    out8[2] += out8[5];
    out8[3] += out8[4];
    cf out2[4];
    for (int b = 0; b < 2; b++)
      for (int q = 0; q < 2; q++) {
        cf acc = 0.0f;
        for (int i = 0; i < 13; i++) acc += t.g2[q][i] * in[n + kPsHybridHistory - i][b + 1];
        out2[2 * b + q] = acc;
      }
    cf* row = out + static_cast<ptrdiff_t>(n) * stride;
    for (int k = 0; k < kPsHybridBands; k++) {
      int o = kHybridOrder[k];
      row[k] = o < 8 ? out8[o] : out2[o - 8];
    }
  }
}
