// N = 4 L point FFTs (L = 4 or 8) as a four-step transform:
//   n = l + L n2, k = k2 + 4 k1,
//   X[k2 + 4 k1] = sum_l W_L^(l k1) W_N^(l k2) sum_n2 x[l + L n2] W_4^(n2 k2).
// The radix-4 step runs across l (contiguous input), the twiddled result is
// transposed so that each vector holds the four k2 of one l, and the L-point
// step then runs across k2, which leaves X[4 k1 .. 4 k1 + 3] in one vector:
// the output comes out in natural order.
#include "qmf_fft_sse.h"

#include <cmath>

#include <xmmintrin.h>

namespace {

struct Cv {
  __m128 r, i;
};

inline Cv add(Cv a, Cv b) { return {_mm_add_ps(a.r, b.r), _mm_add_ps(a.i, b.i)}; }
inline Cv sub(Cv a, Cv b) { return {_mm_sub_ps(a.r, b.r), _mm_sub_ps(a.i, b.i)}; }
// a * (-i)
inline Cv mulNegI(Cv a) { return {a.i, _mm_sub_ps(_mm_setzero_ps(), a.r)}; }
inline Cv mul(Cv a, __m128 cr, __m128 ci) {
  return {_mm_sub_ps(_mm_mul_ps(a.r, cr), _mm_mul_ps(a.i, ci)), _mm_add_ps(_mm_mul_ps(a.r, ci), _mm_mul_ps(a.i, cr))};
}

// Four-point DFT (sign -1) of a, b, c, d; results in order 0..3.
inline void dft4(Cv a, Cv b, Cv c, Cv d, Cv* o0, Cv* o1, Cv* o2, Cv* o3) {
  Cv t0 = add(a, c), t1 = sub(a, c), t2 = add(b, d), t3 = mulNegI(sub(b, d));
  *o0 = add(t0, t2);
  *o2 = sub(t0, t2);
  *o1 = add(t1, t3);
  *o3 = sub(t1, t3);
}

// Twiddles W_N^(l k2), stored per k2 (1..3) as vectors over l.
struct Twiddles {
  float c16[3][4], s16[3][4];
  float c32[3][8], s32[3][8];
  Twiddles() {
    for (int k2 = 1; k2 < 4; k2++) {
      for (int l = 0; l < 4; l++) {
        double a = -2.0 * M_PI * l * k2 / 16.0;
        c16[k2 - 1][l] = static_cast<float>(std::cos(a));
        s16[k2 - 1][l] = static_cast<float>(std::sin(a));
      }
      for (int l = 0; l < 8; l++) {
        double a = -2.0 * M_PI * l * k2 / 32.0;
        c32[k2 - 1][l] = static_cast<float>(std::cos(a));
        s32[k2 - 1][l] = static_cast<float>(std::sin(a));
      }
    }
  }
};

const Twiddles& twiddles() {
  static const Twiddles t;
  return t;
}

inline Cv load(const float* re, const float* im, int at) { return {_mm_loadu_ps(re + at), _mm_loadu_ps(im + at)}; }
inline void store(float* re, float* im, int at, Cv v) {
  _mm_storeu_ps(re + at, v.r);
  _mm_storeu_ps(im + at, v.i);
}

// Radix-4 step and twiddles for the l block starting at l0; z[k2] holds the
// four l of that block.
inline void firstStep(const float* re, const float* im, int L, int l0, const float* c, const float* s, int cs,
                      Cv z[4]) {
  Cv a = load(re, im, l0), b = load(re, im, l0 + L), cc = load(re, im, l0 + 2 * L), d = load(re, im, l0 + 3 * L);
  dft4(a, b, cc, d, &z[0], &z[1], &z[2], &z[3]);
  for (int k2 = 1; k2 < 4; k2++)
    z[k2] = mul(z[k2], _mm_loadu_ps(c + (k2 - 1) * cs + l0), _mm_loadu_ps(s + (k2 - 1) * cs + l0));
}

// Turns z[k2] (lanes over l) into v[l] (lanes over k2).
inline void transpose(Cv z[4]) {
  _MM_TRANSPOSE4_PS(z[0].r, z[1].r, z[2].r, z[3].r);
  _MM_TRANSPOSE4_PS(z[0].i, z[1].i, z[2].i, z[3].i);
}

}  // namespace

void qmfFft16(float* re, float* im) {
  const Twiddles& t = twiddles();
  Cv v[4];
  firstStep(re, im, 4, 0, &t.c16[0][0], &t.s16[0][0], 4, v);
  transpose(v);
  Cv o[4];
  dft4(v[0], v[1], v[2], v[3], &o[0], &o[1], &o[2], &o[3]);
  for (int k1 = 0; k1 < 4; k1++) store(re, im, 4 * k1, o[k1]);
}

void qmfFft32(float* re, float* im) {
  const Twiddles& t = twiddles();
  Cv v[8];
  firstStep(re, im, 8, 0, &t.c32[0][0], &t.s32[0][0], 8, v);
  firstStep(re, im, 8, 4, &t.c32[0][0], &t.s32[0][0], 8, v + 4);
  transpose(v);
  transpose(v + 4);
  // Eight-point DFT over l: two four-point DFTs of the even and odd l.
  Cv e[4], d[4];
  dft4(v[0], v[2], v[4], v[6], &e[0], &e[1], &e[2], &e[3]);
  dft4(v[1], v[3], v[5], v[7], &d[0], &d[1], &d[2], &d[3]);
  const __m128 h = _mm_set1_ps(0.70710678118654752440f);
  // d[k] *= W_8^k: W_8^1 = (1 - i)/sqrt2, W_8^2 = -i, W_8^3 = -(1 + i)/sqrt2.
  d[1] = {_mm_mul_ps(_mm_add_ps(d[1].r, d[1].i), h), _mm_mul_ps(_mm_sub_ps(d[1].i, d[1].r), h)};
  d[2] = mulNegI(d[2]);
  d[3] = {_mm_mul_ps(_mm_sub_ps(d[3].i, d[3].r), h), _mm_mul_ps(_mm_sub_ps(_mm_setzero_ps(), _mm_add_ps(d[3].r, d[3].i)), h)};
  for (int k1 = 0; k1 < 4; k1++) {
    store(re, im, 4 * k1, add(e[k1], d[k1]));
    store(re, im, 4 * (k1 + 4), sub(e[k1], d[k1]));
  }
}
