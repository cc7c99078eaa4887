// DCT-IV of 1024 points over a 512-point complex FFT computed as 16 x 32:
// with n = 32 n1 + n2 and k = k1 + 16 k2,
//   Z[k1 + 16 k2] = sum_n2 W32^(n2 k2) W512^(n2 k1) sum_n1 z[32 n1 + n2] W16^(n1 k1),
// the inner sums by fft16, the outer ones by fft32 (sign -1, unscaled). The
// DCT's rotations are those of the runtime's DCT-IV: before the FFT
// z[j] = (x[2j] + i x[N-1-2j]) e^(-i pi (j + 1/8) / N), after it
// y[2j] = Re(Z[j] e^(-i pi (j + 1/8) / N)) and y[N-1-2j] = -Im(...).
#include "dct1024.h"

#include <cmath>

#include "decruntime.h"
#include "fixedfft.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
const int kN = 1024, kM = 512;
const double kPi = 3.14159265358979323846;
}  // namespace

struct Dct1024 {
  float cosr[kM];          // cos((j + 1/8) pi / N)
  float sinr[kM];          // sin((j + 1/8) pi / N)
  float twr[32][16];       // W512^(n2 k1): real part
  float twi[32][16];       // and imaginary part
  float cols[32][32];      // column n2: 16 interleaved complex values over n1
  float rows[16][64];      // row k1: 32 interleaved complex values over n2
};

Dct1024* dct1024Create() {
  Dct1024* d = static_cast<Dct1024*>(DEC_CALLOC(1, sizeof(Dct1024)));
  if (!d) return nullptr;
  for (int j = 0; j < kM; ++j) {
    const double a = (j + 0.125) * kPi / kN;
    d->cosr[j] = static_cast<float>(std::cos(a));
    d->sinr[j] = static_cast<float>(std::sin(a));
  }
  for (int n2 = 0; n2 < 32; ++n2)
    for (int k1 = 0; k1 < 16; ++k1) {
      const double a = -2.0 * kPi * n2 * k1 / kM;
      d->twr[n2][k1] = static_cast<float>(std::cos(a));
      d->twi[n2][k1] = static_cast<float>(std::sin(a));
    }
  return d;
}

void dct1024Run(Dct1024* d, const float* x, float* y) {
  // 1. Pre-rotation, gathered into the columns (j = 32 n1 + n2).
#if defined(__SSE2__)
  for (int n1 = 0; n1 < 16; ++n1) {
    for (int n2 = 0; n2 < 32; n2 += 4) {
      const int j = 32 * n1 + n2;
      const __m128 e0 = _mm_loadu_ps(x + 2 * j), e1 = _mm_loadu_ps(x + 2 * j + 4);
      const __m128 a = _mm_shuffle_ps(e0, e1, _MM_SHUFFLE(2, 0, 2, 0));  // x[2j], x[2j+2], ...
      const __m128 w0 = _mm_loadu_ps(x + (kN - 8 - 2 * j)), w1 = _mm_loadu_ps(x + (kN - 4 - 2 * j));
      const __m128 b = _mm_shuffle_ps(w1, w0, _MM_SHUFFLE(1, 3, 1, 3));  // x[N-1-2j], x[N-3-2j], ...
      const __m128 cs = _mm_loadu_ps(d->cosr + j), sn = _mm_loadu_ps(d->sinr + j);
      const __m128 re = _mm_add_ps(_mm_mul_ps(a, cs), _mm_mul_ps(b, sn));
      const __m128 im = _mm_sub_ps(_mm_mul_ps(b, cs), _mm_mul_ps(a, sn));
      const __m128 lo = _mm_unpacklo_ps(re, im), hi = _mm_unpackhi_ps(re, im);
      _mm_storel_pi(reinterpret_cast<__m64*>(&d->cols[n2][2 * n1]), lo);
      _mm_storeh_pi(reinterpret_cast<__m64*>(&d->cols[n2 + 1][2 * n1]), lo);
      _mm_storel_pi(reinterpret_cast<__m64*>(&d->cols[n2 + 2][2 * n1]), hi);
      _mm_storeh_pi(reinterpret_cast<__m64*>(&d->cols[n2 + 3][2 * n1]), hi);
    }
  }
#else
  for (int n2 = 0; n2 < 32; ++n2)
    for (int n1 = 0; n1 < 16; ++n1) {
      const int j = 32 * n1 + n2;
      const float a = x[2 * j], b = x[kN - 1 - 2 * j];
      d->cols[n2][2 * n1] = a * d->cosr[j] + b * d->sinr[j];
      d->cols[n2][2 * n1 + 1] = b * d->cosr[j] - a * d->sinr[j];
    }
#endif
  // 2. 16-point transforms of the columns, twiddled into the rows.
  for (int n2 = 0; n2 < 32; ++n2) {
    float* c = d->cols[n2];
    fft16(c);
    const float* twr = d->twr[n2];
    const float* twi = d->twi[n2];
#if defined(__SSE2__)
    for (int k1 = 0; k1 < 16; k1 += 4) {
      const __m128 p = _mm_loadu_ps(c + 2 * k1), q = _mm_loadu_ps(c + 2 * k1 + 4);
      const __m128 re = _mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0));
      const __m128 im = _mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1));
      const __m128 wr = _mm_loadu_ps(twr + k1), wi = _mm_loadu_ps(twi + k1);
      const __m128 ore = _mm_sub_ps(_mm_mul_ps(re, wr), _mm_mul_ps(im, wi));
      const __m128 oim = _mm_add_ps(_mm_mul_ps(re, wi), _mm_mul_ps(im, wr));
      const __m128 lo = _mm_unpacklo_ps(ore, oim), hi = _mm_unpackhi_ps(ore, oim);
      _mm_storel_pi(reinterpret_cast<__m64*>(&d->rows[k1][2 * n2]), lo);
      _mm_storeh_pi(reinterpret_cast<__m64*>(&d->rows[k1 + 1][2 * n2]), lo);
      _mm_storel_pi(reinterpret_cast<__m64*>(&d->rows[k1 + 2][2 * n2]), hi);
      _mm_storeh_pi(reinterpret_cast<__m64*>(&d->rows[k1 + 3][2 * n2]), hi);
    }
#else
    for (int k1 = 0; k1 < 16; ++k1) {
      const float re = c[2 * k1], im = c[2 * k1 + 1];
      d->rows[k1][2 * n2] = re * twr[k1] - im * twi[k1];
      d->rows[k1][2 * n2 + 1] = re * twi[k1] + im * twr[k1];
    }
#endif
  }
  // 3. 32-point transforms of the rows: Z[k1 + 16 k2] = rows[k1][k2].
  for (int k1 = 0; k1 < 16; ++k1) fft32(d->rows[k1]);
  // 4. Post-rotation (the input has been read completely: y may be x).
#if defined(__SSE2__)
  // Blocks of four j = k1 + 16 k2 (k1 = 0, 4, 8, 12) are taken in pairs with
  // their mirror blocks j' = 508 - j: the odd outputs of one interleave with
  // the even outputs of the other, so y is written with whole vectors.
  auto block = [d](int k1, int k2, __m128* ev, __m128* od) {
    const int j = k1 + 16 * k2;
    __m128 p = _mm_setzero_ps(), q = _mm_setzero_ps();
    p = _mm_loadl_pi(p, reinterpret_cast<const __m64*>(&d->rows[k1][2 * k2]));
    p = _mm_loadh_pi(p, reinterpret_cast<const __m64*>(&d->rows[k1 + 1][2 * k2]));
    q = _mm_loadl_pi(q, reinterpret_cast<const __m64*>(&d->rows[k1 + 2][2 * k2]));
    q = _mm_loadh_pi(q, reinterpret_cast<const __m64*>(&d->rows[k1 + 3][2 * k2]));
    const __m128 re = _mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 im = _mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 cs = _mm_loadu_ps(d->cosr + j), sn = _mm_loadu_ps(d->sinr + j);
    *ev = _mm_add_ps(_mm_mul_ps(re, cs), _mm_mul_ps(im, sn));  // y[2j + 2i]
    *od = _mm_sub_ps(_mm_mul_ps(re, sn), _mm_mul_ps(im, cs));  // y[N-1-2j-2i]
  };
  for (int k2 = 0; k2 < 16; ++k2) {
    for (int k1 = 0; k1 < 16; k1 += 4) {
      const int j = k1 + 16 * k2, jm = 508 - j;
      __m128 e1, o1, e2, o2;
      block(k1, k2, &e1, &o1);
      block(12 - k1, 31 - k2, &e2, &o2);
      // y[2j + 2m + 1] = y[N-1-2(jm + 3 - m)]: o2 reversed; likewise for jm.
      const __m128 r2 = _mm_shuffle_ps(o2, o2, _MM_SHUFFLE(0, 1, 2, 3));
      const __m128 r1 = _mm_shuffle_ps(o1, o1, _MM_SHUFFLE(0, 1, 2, 3));
      _mm_storeu_ps(y + 2 * j, _mm_unpacklo_ps(e1, r2));
      _mm_storeu_ps(y + 2 * j + 4, _mm_unpackhi_ps(e1, r2));
      _mm_storeu_ps(y + 2 * jm, _mm_unpacklo_ps(e2, r1));
      _mm_storeu_ps(y + 2 * jm + 4, _mm_unpackhi_ps(e2, r1));
    }
  }
#else
  for (int j = 0; j < kM; ++j) {
    const float re = d->rows[j & 15][2 * (j >> 4)], im = d->rows[j & 15][2 * (j >> 4) + 1];
    y[2 * j] = re * d->cosr[j] + im * d->sinr[j];
    y[kN - 1 - 2 * j] = re * d->sinr[j] - im * d->cosr[j];
  }
#endif
}

void dct1024Delete(Dct1024** d) {
  if (!d || !*d) return;
  DEC_FREE(*d);
  *d = nullptr;
}
