// DCT-IV of 1024 points over a 512-point complex FFT computed as 16 x 32:
// with n = 32 n1 + n2 and k = k1 + 16 k2,
//   Z[k1 + 16 k2] = sum_n2 W32^(n2 k2) W512^(n2 k1) sum_n1 z[32 n1 + n2] W16^(n1 k1),
// the inner sums by 16-point transforms, the outer ones by 32-point
// transforms (sign -1, unscaled). The DCT's rotations are those of the
// runtime's DCT-IV: before the FFT
// z[j] = (x[2j] + i x[N-1-2j]) e^(-i pi (j + 1/8) / N), after it
// y[2j] = Re(Z[j] e^(-i pi (j + 1/8) / N)) and y[N-1-2j] = -Im(...).
//
// With SSE2 the small transforms run four at a time, one per vector lane:
// z is kept in natural order as vectors of four consecutive j (real and
// imaginary parts apart), so four neighbouring columns n2 share a vector and
// the 16-point transforms need no shuffling; the twiddled columns are
// transposed in 4 x 4 blocks so that four rows k1 share a vector for the
// 32-point transforms, which leave Z in natural order again.
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

#if defined(__SSE2__)
// Four complex values, one per lane.
struct Cv {
  __m128 r, i;
};

inline Cv add(Cv a, Cv b) { return {_mm_add_ps(a.r, b.r), _mm_add_ps(a.i, b.i)}; }
inline Cv sub(Cv a, Cv b) { return {_mm_sub_ps(a.r, b.r), _mm_sub_ps(a.i, b.i)}; }
inline Cv mul(Cv a, Cv w) {
  return {_mm_sub_ps(_mm_mul_ps(a.r, w.r), _mm_mul_ps(a.i, w.i)), _mm_add_ps(_mm_mul_ps(a.r, w.i), _mm_mul_ps(a.i, w.r))};
}

// a W_N^k (sign -1) for N = 4 .. 32, k < N / 2: the rotations by 1, -i and
// the odd multiples of pi / 4 take fewer operations.
template <int N>
inline Cv rotate(Cv a, int k) {
  const int m = k * (32 / N);  // index on the 32-point circle, 0 .. 15
  if (m == 0) return a;
  if (m == 8) return {a.i, _mm_sub_ps(_mm_setzero_ps(), a.r)};
  const __m128 h = _mm_set1_ps(kCos32[4]);
  if (m == 4) return {_mm_mul_ps(_mm_add_ps(a.r, a.i), h), _mm_mul_ps(_mm_sub_ps(a.i, a.r), h)};
  if (m == 12) return {_mm_mul_ps(_mm_sub_ps(a.i, a.r), h), _mm_mul_ps(_mm_add_ps(a.r, a.i), _mm_set1_ps(-kCos32[4]))};
  const float c = m <= 8 ? kCos32[m] : -kCos32[16 - m];
  const float s = m <= 8 ? -kCos32[8 - m] : -kCos32[m - 8];
  const __m128 vc = _mm_set1_ps(c), vs = _mm_set1_ps(s);
  return {_mm_sub_ps(_mm_mul_ps(a.r, vc), _mm_mul_ps(a.i, vs)), _mm_add_ps(_mm_mul_ps(a.r, vs), _mm_mul_ps(a.i, vc))};
}

// N-point DFTs (sign -1, unscaled) of the lanes of in[0], in[s], ...,
// in[(N-1) s] into out[0 .. N-1], in natural order: decimation in time,
// down to four-point butterflies.
template <int N>
struct LaneFft {
  static inline void run(const Cv* in, int s, Cv* out) {
    LaneFft<N / 2>::run(in, 2 * s, out);
    LaneFft<N / 2>::run(in + s, 2 * s, out + N / 2);
#pragma GCC unroll 16
    for (int k = 0; k < N / 2; ++k) {
      const Cv e = out[k], o = rotate<N>(out[k + N / 2], k);
      out[k] = add(e, o);
      out[k + N / 2] = sub(e, o);
    }
  }
};

template <>
struct LaneFft<4> {
  static inline void run(const Cv* in, int s, Cv* out) {
    const Cv a = in[0], b = in[s], c = in[2 * s], d = in[3 * s];
    const Cv t0 = add(a, c), t1 = sub(a, c), t2 = add(b, d), u = sub(b, d);
    const Cv t3 = {u.i, _mm_sub_ps(_mm_setzero_ps(), u.r)};  // (b - d)(-i)
    out[0] = add(t0, t2);
    out[2] = sub(t0, t2);
    out[1] = add(t1, t3);
    out[3] = sub(t1, t3);
  }
};
#endif

}  // namespace

struct Dct1024 {
  float cosr[kM];          // cos((j + 1/8) pi / N)
  float sinr[kM];          // sin((j + 1/8) pi / N)
#if defined(__SSE2__)
  Cv tw[16][8];            // W512^(n2 k1): lanes over n2 = 4 g .. 4 g + 3, at [k1][g]
  Cv z[128];               // z[j] and later Z[j]: vector m holds j = 4 m .. 4 m + 3
  Cv cols[32][4];          // twiddled columns transposed: [n2][t] holds k1 = 4 t .. 4 t + 3
#else
  float twr[32][16];       // W512^(n2 k1): real part
  float twi[32][16];       // and imaginary part
  float cols[32][32];      // column n2: 16 interleaved complex values over n1
  float rows[16][64];      // row k1: 32 interleaved complex values over n2
#endif
};

Dct1024* dct1024Create() {
  Dct1024* d = static_cast<Dct1024*>(DEC_CALLOC(1, sizeof(Dct1024)));
  if (!d) return nullptr;
  for (int j = 0; j < kM; ++j) {
    const double a = (j + 0.125) * kPi / kN;
    d->cosr[j] = static_cast<float>(std::cos(a));
    d->sinr[j] = static_cast<float>(std::sin(a));
  }
#if defined(__SSE2__)
  for (int k1 = 0; k1 < 16; ++k1)
    for (int g = 0; g < 8; ++g) {
      alignas(16) float wr[4], wi[4];
      for (int u = 0; u < 4; ++u) {
        const double a = -2.0 * kPi * (4 * g + u) * k1 / kM;
        wr[u] = static_cast<float>(std::cos(a));
        wi[u] = static_cast<float>(std::sin(a));
      }
      d->tw[k1][g] = {_mm_load_ps(wr), _mm_load_ps(wi)};
    }
#else
  for (int n2 = 0; n2 < 32; ++n2)
    for (int k1 = 0; k1 < 16; ++k1) {
      const double a = -2.0 * kPi * n2 * k1 / kM;
      d->twr[n2][k1] = static_cast<float>(std::cos(a));
      d->twi[n2][k1] = static_cast<float>(std::sin(a));
    }
#endif
  return d;
}

void dct1024Run(Dct1024* d, const float* x, float* y) {
#if defined(__SSE2__)
  // 1. Pre-rotation into z, natural order.
  for (int m = 0; m < kM / 4; ++m) {
    const int j = 4 * m;
    const __m128 e0 = _mm_loadu_ps(x + 2 * j), e1 = _mm_loadu_ps(x + 2 * j + 4);
    const __m128 a = _mm_shuffle_ps(e0, e1, _MM_SHUFFLE(2, 0, 2, 0));  // x[2j], x[2j+2], ...
    const __m128 w0 = _mm_loadu_ps(x + (kN - 8 - 2 * j)), w1 = _mm_loadu_ps(x + (kN - 4 - 2 * j));
    const __m128 b = _mm_shuffle_ps(w1, w0, _MM_SHUFFLE(1, 3, 1, 3));  // x[N-1-2j], x[N-3-2j], ...
    const __m128 cs = _mm_loadu_ps(d->cosr + j), sn = _mm_loadu_ps(d->sinr + j);
    d->z[m] = {_mm_add_ps(_mm_mul_ps(a, cs), _mm_mul_ps(b, sn)), _mm_sub_ps(_mm_mul_ps(b, cs), _mm_mul_ps(a, sn))};
  }
  // 2. 16-point transforms over n1 of four columns at a time (vector g of
  // row n1 is z[8 n1 + g]), twiddled, transposed into cols.
  for (int g = 0; g < 8; ++g) {
    Cv c[16];
    LaneFft<16>::run(d->z + g, 8, c);
    for (int k1 = 0; k1 < 16; ++k1) c[k1] = mul(c[k1], d->tw[k1][g]);
    for (int t = 0; t < 4; ++t) {
      Cv* q = c + 4 * t;
      _MM_TRANSPOSE4_PS(q[0].r, q[1].r, q[2].r, q[3].r);
      _MM_TRANSPOSE4_PS(q[0].i, q[1].i, q[2].i, q[3].i);
      for (int u = 0; u < 4; ++u) d->cols[4 * g + u][t] = q[u];
    }
  }
  // 3. 32-point transforms over n2 of four rows k1 = 4 t .. 4 t + 3 at a
  // time: Z[k1 + 16 k2] lands in vector 4 k2 + t.
  for (int t = 0; t < 4; ++t) {
    Cv r[32];
    LaneFft<32>::run(&d->cols[0][t], 4, r);
    for (int k2 = 0; k2 < 32; ++k2) d->z[4 * k2 + t] = r[k2];
  }
  // 4. Post-rotation (the input has been read completely: y may be x). Each
  // block of four j is taken with its mirror block j' = 508 - j: the odd
  // outputs of one interleave with the even outputs of the other, so y is
  // written with whole vectors.
  auto block = [d](int m, __m128* ev, __m128* od) {
    const Cv v = d->z[m];
    const __m128 cs = _mm_loadu_ps(d->cosr + 4 * m), sn = _mm_loadu_ps(d->sinr + 4 * m);
    *ev = _mm_add_ps(_mm_mul_ps(v.r, cs), _mm_mul_ps(v.i, sn));  // y[2j + 2i]
    *od = _mm_sub_ps(_mm_mul_ps(v.r, sn), _mm_mul_ps(v.i, cs));  // y[N-1-2j-2i]
  };
  for (int m = 0; m < kM / 8; ++m) {
    const int mm = kM / 4 - 1 - m, j = 4 * m, jm = 4 * mm;
    __m128 e1, o1, e2, o2;
    block(m, &e1, &o1);
    block(mm, &e2, &o2);
    // y[2j + 2i + 1] = y[N-1-2(jm + 3 - i)]: o2 reversed; likewise for jm.
    const __m128 r2 = _mm_shuffle_ps(o2, o2, _MM_SHUFFLE(0, 1, 2, 3));
    const __m128 r1 = _mm_shuffle_ps(o1, o1, _MM_SHUFFLE(0, 1, 2, 3));
    _mm_storeu_ps(y + 2 * j, _mm_unpacklo_ps(e1, r2));
    _mm_storeu_ps(y + 2 * j + 4, _mm_unpackhi_ps(e1, r2));
    _mm_storeu_ps(y + 2 * jm, _mm_unpacklo_ps(e2, r1));
    _mm_storeu_ps(y + 2 * jm + 4, _mm_unpackhi_ps(e2, r1));
  }
#else
  // 1. Pre-rotation, gathered into the columns (j = 32 n1 + n2).
  for (int n2 = 0; n2 < 32; ++n2)
    for (int n1 = 0; n1 < 16; ++n1) {
      const int j = 32 * n1 + n2;
      const float a = x[2 * j], b = x[kN - 1 - 2 * j];
      d->cols[n2][2 * n1] = a * d->cosr[j] + b * d->sinr[j];
      d->cols[n2][2 * n1 + 1] = b * d->cosr[j] - a * d->sinr[j];
    }
  // 2. 16-point transforms of the columns, twiddled into the rows.
  for (int n2 = 0; n2 < 32; ++n2) {
    float* c = d->cols[n2];
    fft16(c);
    for (int k1 = 0; k1 < 16; ++k1) {
      const float re = c[2 * k1], im = c[2 * k1 + 1];
      d->rows[k1][2 * n2] = re * d->twr[n2][k1] - im * d->twi[n2][k1];
      d->rows[k1][2 * n2 + 1] = re * d->twi[n2][k1] + im * d->twr[n2][k1];
    }
  }
  // 3. 32-point transforms of the rows: Z[k1 + 16 k2] = rows[k1][k2].
  for (int k1 = 0; k1 < 16; ++k1) fft32(d->rows[k1]);
  // 4. Post-rotation (the input has been read completely: y may be x).
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
