// Stand-in implementations of the runtime services (replaced by the codec
// runtime library once it is available).
#include "decruntime.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void* decAlloc(size_t size, const char*, int) {
  if (size == 0) return nullptr;
  return std::malloc(size);
}

void* decCalloc(size_t count, size_t size, const char*, int) {
  if (count == 0 || size == 0 || count > SIZE_MAX / size) return nullptr;
  return std::calloc(count, size);
}

void decFree(void* block, const char*, int) { std::free(block); }

struct DecDct {
  int n;
  std::vector<float> w;
  std::vector<double> re, im, ore, oim, twr, twi;
};

namespace {
const double kPi = 3.14159265358979323846;

void dft(DecDct* d, int m) {
  for (int k = 0; k < m; ++k) {
    double sr = 0, si = 0;
    for (int j = 0; j < m; ++j) {
      const int idx = static_cast<int>((static_cast<long long>(j) * k) % m);
      sr += d->re[j] * d->twr[idx] - d->im[j] * d->twi[idx];
      si += d->re[j] * d->twi[idx] + d->im[j] * d->twr[idx];
    }
    d->ore[k] = sr;
    d->oim[k] = si;
  }
}

void fftPow2(DecDct* d, int m) {
  for (int i = 0; i < m; ++i) {
    d->ore[i] = d->re[i];
    d->oim[i] = d->im[i];
  }
  for (int i = 1, j = 0; i < m; ++i) {
    int bit = m >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(d->ore[i], d->ore[j]);
      std::swap(d->oim[i], d->oim[j]);
    }
  }
  for (int len = 2; len <= m; len <<= 1) {
    const int step = m / len;
    for (int i = 0; i < m; i += len)
      for (int k = 0; k < len / 2; ++k) {
        const double wr = d->twr[k * step], wi = d->twi[k * step];
        const double ar = d->ore[i + k + len / 2], ai = d->oim[i + k + len / 2];
        const double tr = ar * wr - ai * wi, ti = ar * wi + ai * wr;
        d->ore[i + k + len / 2] = d->ore[i + k] - tr;
        d->oim[i + k + len / 2] = d->oim[i + k] - ti;
        d->ore[i + k] += tr;
        d->oim[i + k] += ti;
      }
  }
}
}  // namespace

DecDct* decDctCreate(int n) {
  if (n <= 0 || (n & 1)) return nullptr;
  DecDct* d = new DecDct;
  d->n = n;
  const int m = n / 2;
  d->w.resize(n);
  for (int k = 0; k < n; ++k) d->w[k] = static_cast<float>(std::sin((k + 0.125) * kPi / n));
  d->re.resize(m); d->im.resize(m); d->ore.resize(m); d->oim.resize(m);
  d->twr.resize(m); d->twi.resize(m);
  for (int k = 0; k < m; ++k) {
    d->twr[k] = std::cos(-2 * kPi * k / m);
    d->twi[k] = std::sin(-2 * kPi * k / m);
  }
  return d;
}

void decDctRun(DecDct* d, const float* x, float* y) {
  const int n = d->n, m = n / 2;
  for (int j = 0; j < m; ++j) {
    const double s = d->w[j], c = d->w[m + j];
    d->re[j] = x[2 * j] * c + x[n - 1 - 2 * j] * s;
    d->im[j] = x[n - 1 - 2 * j] * c - x[2 * j] * s;
  }
  if ((m & (m - 1)) == 0) fftPow2(d, m); else dft(d, m);
  for (int j = 0; j < m; ++j) {
    const double s = d->w[j], c = d->w[m + j];
    y[2 * j] = static_cast<float>(d->ore[j] * c + d->oim[j] * s);
    y[n - 1 - 2 * j] = static_cast<float>(d->ore[j] * s - d->oim[j] * c);
  }
}

void decDctDelete(DecDct** d) {
  if (!d) return;
  delete *d;
  *d = nullptr;
}

void decCopyStrided(float* dst, int dstStride, const float* src, int srcStride, int n) {
  for (int i = 0; i < n; ++i) dst[i * dstStride] = src[i * srcStride];
}

void decVecInit() {}

// Plain vector stores: kept from becoming a memset call, whose byte-wise
// string instruction costs far more on short, frequent fills.
#if defined(__clang__)
__attribute__((no_builtin("memset")))
#elif defined(__GNUC__)
__attribute__((optimize("no-tree-loop-distribute-patterns")))
#endif
void decZeroFloats(float* dst, int n) {
  int i = 0;
#if defined(__SSE2__)
  const __m128 z = _mm_setzero_ps();
  for (; i + 4 <= n; i += 4) _mm_storeu_ps(dst + i, z);
#endif
  for (; i < n; ++i) dst[i] = 0.0f;
}
