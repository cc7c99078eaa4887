// DCT-IV / DST-IV through an N/2-point complex FFT.
#include "nyx_dct.h"

#include <cmath>

#include "utillib.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void releaseParts(DctHandle* h) {
  deleteCplxFft(&h->fft);
  utilFree(h->table, "nyx_dct", 226);
  utilFree(h->inReal, "nyx_dct", 227);
  utilFree(h->inImag, "nyx_dct", 228);
  utilFree(h->outReal, "nyx_dct", 229);
  utilFree(h->outImag, "nyx_dct", 230);
  h->table = h->inReal = h->inImag = h->outReal = h->outImag = nullptr;
}

}  // namespace

int createDct(DctHandle** handle, int32_t n) {
  if (!handle) return 1;
  if (n < 2 || (n & 1) != 0 || n > (1 << 26)) return 1;
  *handle = nullptr;
  DctHandle* h = static_cast<DctHandle*>(utilCalloc(1, sizeof(DctHandle), __FILE__, __LINE__));
  if (!h) return 2;
  h->n = n;
  const uint32_t half = static_cast<uint32_t>(n / 2);
  h->table = static_cast<float*>(utilMalloc(static_cast<uint32_t>(n) * sizeof(float), __FILE__, __LINE__));
  h->inReal = static_cast<float*>(utilMalloc(half * sizeof(float), __FILE__, __LINE__));
  h->inImag = static_cast<float*>(utilMalloc(half * sizeof(float), __FILE__, __LINE__));
  h->outReal = static_cast<float*>(utilMalloc(half * sizeof(float), __FILE__, __LINE__));
  h->outImag = static_cast<float*>(utilMalloc(half * sizeof(float), __FILE__, __LINE__));
  if (!h->table || !h->inReal || !h->inImag || !h->outReal || !h->outImag ||
      createCplxFft(&h->fft, n / 2, -1) != 0) {
    // Give back what was obtained before the failure.
    releaseParts(h);
    utilFree(h, "nyx_dct", 238);
    return 2;
  }
  for (int32_t k = 0; k < n; ++k)
    h->table[k] = static_cast<float>(std::sin((k + 0.125) * kPi / n));
  *handle = h;
  return 0;
}

namespace {

// Both transforms through one N/2-point complex FFT: pre-twiddle the pairs
// (x[2j], x[n-1-2j]), transform, post-twiddle. The DST-IV is the DCT-IV of
// the input read backwards with its odd outputs negated: the pair is taken in
// the other order and the second output's difference the other way round.
template <bool Sine>
int runTransform(DctHandle* h, const float* x, float* y) {
  if (!h || !x || !y) return 1;
  const int32_t n = h->n, half = n / 2;
  const float* s = h->table;
  const float* c = h->table + half;
  for (int32_t j = 0; j < half; ++j) {
    const float a = Sine ? x[n - 1 - 2 * j] : x[2 * j];
    const float b = Sine ? x[2 * j] : x[n - 1 - 2 * j];
    h->inReal[j] = a * c[j] + b * s[j];
    h->inImag[j] = b * c[j] - a * s[j];
  }
  if (runCplxFft(h->fft, h->inReal, h->inImag, h->outReal, h->outImag) != 0) return 2;
  for (int32_t j = 0; j < half; ++j) {
    float R = h->outReal[j], I = h->outImag[j];
    y[2 * j] = R * c[j] + I * s[j];
    y[n - 1 - 2 * j] = Sine ? I * c[j] - R * s[j] : R * s[j] - I * c[j];
  }
  return 0;
}

}  // namespace

int runDct(DctHandle* h, const float* x, float* y) { return runTransform<false>(h, x, y); }

int runDst(DctHandle* h, const float* x, float* y) { return runTransform<true>(h, x, y); }

int deleteDct(DctHandle** handle) {
  if (!handle || !*handle) return 0;
  DctHandle* h = *handle;
  releaseParts(h);
  utilFree(h, "nyx_dct", 238);
  *handle = nullptr;
  return 0;
}
