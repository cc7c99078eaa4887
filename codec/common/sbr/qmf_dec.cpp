// QMF analysis and synthesis banks.
//
// Analysis (M = 64 / D channels, window c[D n]):
//   X[k] = sum_n u[n] * 2 * exp(i pi (k + 0.5)(2n - 1/D) / (2M)),  n = 0 .. 2M - 1
// (for D = 2 the 32-band analysis of the SBR tool, phase (2n - 0.5) / 64).
// Synthesis (M = 64 / D channels):
//   v[n] = (1/64) * sum_k Re(X[k] * exp(i pi (k + 0.5)(2n - (4M - 1/D)) / (2M))),  n = 0 .. 2M - 1
// (for D = 1 the 64-band synthesis of the SBR tool; for D = 2 the phase that
// pairs with the 32-band analysis for the down-sampled output).
// followed by the usual windowing of the v history. The low-power kernels use
// the real part only (cos modulation) with the phase of the real-valued bank.
#include "qmf_dec.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include <xmmintrin.h>

#include "qmf_fft_sse.h"
#include "sbr_tables.h"

namespace {

float* allocFloats(size_t n) { return static_cast<float*>(std::calloc(n, sizeof(float))); }

void freeBank(QmfBank* b) {
  if (!b) return;
  std::free(b->preRot);
  std::free(b->postRot);
  std::free(b->bandRot);
  std::free(b->work);
  std::free(b->cosTab);
  std::free(b->sinTab);
  std::free(b->window);
  std::free(b->state);
  delete b;
}

// Fills the window c[D n] from the rotated prototype (entry i holds c[i + 1]).
void fillWindow(QmfBank* b) {
  for (int n = 0; n < b->L; n++) {
    int idx = b->D * n;  // c[idx]
    b->window[n] = sbrtab::qmfPrototype[(idx + 639) % 640];
  }
}

// Tables of the fast kernels. The band rotation takes the DCT-IV/DST-IV phase
// (pi/M)(k + 1/2)(n + 1/2) to the bank's phase: analysis multiplies by
// 2 exp(-i (pi/M)(k + 1/2)(1/2 + 1/(2D))), synthesis by exp(i (pi/M)(k + 1/2)(1/(2D) - 1/2)).
bool fillFastTables(QmfBank* b) {
  const int M = b->M;
  b->preRot = allocFloats(M);
  b->postRot = allocFloats(M);
  b->bandRot = allocFloats(2 * static_cast<size_t>(M));
  b->work = allocFloats(4 * static_cast<size_t>(M));
  if (!b->preRot || !b->postRot || !b->bandRot || !b->work) return false;
  const int h = M / 2;
  // Planar layout (all cosines, then all sines) for the vector kernels.
  for (int j = 0; j < h; j++) {
    double a = -M_PI * (j + 0.25) / M, c = -M_PI * j / M;
    b->preRot[j] = static_cast<float>(std::cos(a));
    b->preRot[h + j] = static_cast<float>(std::sin(a));
    b->postRot[j] = static_cast<float>(std::cos(c));
    b->postRot[h + j] = static_cast<float>(std::sin(c));
  }
  for (int k = 0; k < M; k++) {
    double a, g;
    if (b->analysis) {
      a = -M_PI / M * (k + 0.5) * (0.5 + 0.5 / b->D);
      g = 2.0;
    } else {
      a = M_PI / M * (k + 0.5) * (0.5 / b->D - 0.5);
      g = 1.0;
    }
    b->bandRot[k] = static_cast<float>(g * std::cos(a));
    b->bandRot[M + k] = static_cast<float>(g * std::sin(a));
  }
  return true;
}

// Four points of the fold and pre-rotation of the fast DCT-IV/DST-IV: the
// even inputs x[2j], x[2j+2], .. and the odd ones from the top, x[M-1-2j],
// x[M-3-2j], .., become the real and imaginary parts of four complex points
// (the other way round for the DST), which are multiplied by the rotation
// (cr, ci) and stored at outRe[j..j+3], outIm[j..j+3].
inline void foldRotate4(const float* x, int M, int j, bool dst, __m128 cr, __m128 ci, float* outRe, float* outIm) {
  const __m128 a0 = _mm_loadu_ps(x + 2 * j), a1 = _mm_loadu_ps(x + 2 * j + 4);
  const __m128 c0 = _mm_loadu_ps(x + (M - 8 - 2 * j)), d0 = _mm_loadu_ps(x + (M - 4 - 2 * j));
  const __m128 ev = _mm_shuffle_ps(a0, a1, _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 od = _mm_shuffle_ps(d0, c0, _MM_SHUFFLE(1, 3, 1, 3));
  const __m128 re = dst ? od : ev, im = dst ? ev : od;
  _mm_storeu_ps(outRe + j, _mm_sub_ps(_mm_mul_ps(re, cr), _mm_mul_ps(im, ci)));
  _mm_storeu_ps(outIm + j, _mm_add_ps(_mm_mul_ps(re, ci), _mm_mul_ps(im, cr)));
}

// The two transforms both stages share: the fold and pre-rotation, the
// M/2-point FFTs and the post-rotation. On return buf holds the DCT-IV of x
// as even outputs E (buf[0..h)) and odd outputs O (buf[h..M)), and the
// DST-IV of y likewise at buf[M..2M); buf holds 2M floats.
// The four halves of dctDstTransforms()'s result: the DCT's even and odd
// outputs (ar, ai) and the DST's (sr, si).
struct DctDstHalves {
  const float* ar;
  const float* ai;
  const float* sr;
  const float* si;
};

// The four lanes of x in reverse order.
inline __m128 reverse4(__m128 x) { return _mm_shuffle_ps(x, x, _MM_SHUFFLE(0, 1, 2, 3)); }

DctDstHalves dctDstTransforms(const QmfBank* b, const float* x, const float* y, float* buf) {
  const int M = b->M, h = M / 2;
  const float* pc = b->preRot;
  const float* ps = b->preRot + h;
  float* ar = buf;
  float* ai = buf + h;
  float* sr = buf + M;
  float* si = buf + M + h;
  for (int j = 0; j < h; j += 4) {
    const __m128 cr = _mm_loadu_ps(pc + j), ci = _mm_loadu_ps(ps + j);
    foldRotate4(x, M, j, false, cr, ci, ar, ai);
    foldRotate4(y, M, j, true, cr, ci, sr, si);
  }
  if (h == 32) {
    qmfFft32(ar, ai);
    qmfFft32(sr, si);
  } else {
    qmfFft16(ar, ai);
    qmfFft16(sr, si);
  }
  // Post-rotation: even outputs E (y[2j]) and odd outputs O (y[M-1-2j]),
  // the DCT's odd ones negated, kept in place of the transforms.
  const float* qc = b->postRot;
  const float* qs = b->postRot + h;
  const __m128 minus = _mm_set1_ps(-1.0f), plus = _mm_set1_ps(1.0f);
  for (int j = 0; j < h; j += 4) {
    const __m128 cr = _mm_loadu_ps(qc + j), ci = _mm_loadu_ps(qs + j);
    __m128 re = _mm_loadu_ps(ar + j), im = _mm_loadu_ps(ai + j);
    _mm_storeu_ps(ar + j, _mm_sub_ps(_mm_mul_ps(re, cr), _mm_mul_ps(im, ci)));
    _mm_storeu_ps(ai + j, _mm_mul_ps(minus, _mm_add_ps(_mm_mul_ps(re, ci), _mm_mul_ps(im, cr))));
    re = _mm_loadu_ps(sr + j);
    im = _mm_loadu_ps(si + j);
    _mm_storeu_ps(sr + j, _mm_sub_ps(_mm_mul_ps(re, cr), _mm_mul_ps(im, ci)));
    _mm_storeu_ps(si + j, _mm_mul_ps(plus, _mm_add_ps(_mm_mul_ps(re, ci), _mm_mul_ps(im, cr))));
  }
  return {ar, ai, sr, si};
}

// The analysis's pair of transforms in one pass: C = DCT-IV(xc) and
// S = DST-IV(xs) of M points (M = 32 or 64), unnormalised,
//   C[k] = sum x[n] cos(pi/M (n + 1/2)(k + 1/2)),
// S the DST-IV, (-1)^k times the DCT-IV of the reversed input; both through
// an M/2-point complex FFT on split arrays. The fold reads x[2j] and
// x[M-1-2j] (swapped for the DST); the transforms come out as the even
// outputs y[2j] and the odd ones y[M-1-2j], which are interleaved in
// registers and rotated to the bank's phase straight away:
//   r[k] = C[k] bc[k] - S[k] bs[k],  q[k] = C[k] bs[k] + S[k] bc[k].
// buf holds 2M floats of scratch.
void dctDstAnalysis(const QmfBank* b, const float* xc, const float* xs, float* r, float* q, float* buf) {
  const int M = b->M, h = M / 2;
  const DctDstHalves t = dctDstTransforms(b, xc, xs, buf);
  const float *ar = t.ar, *ai = t.ai, *sr = t.sr, *si = t.si;
  // y[2j + 2t] = E[j + t], y[2j + 2t + 1] = O[h - 1 - j - t], then the band rotation.
  const float* bc = b->bandRot;
  const float* bs = b->bandRot + M;
  auto rotate = [&](int k, __m128 c, __m128 s) {
    const __m128 gc = _mm_loadu_ps(bc + k), gs = _mm_loadu_ps(bs + k);
    _mm_storeu_ps(r + k, _mm_sub_ps(_mm_mul_ps(c, gc), _mm_mul_ps(s, gs)));
    _mm_storeu_ps(q + k, _mm_add_ps(_mm_mul_ps(c, gs), _mm_mul_ps(s, gc)));
  };
  for (int j = 0; j < h; j += 4) {
    const __m128 ec = _mm_loadu_ps(ar + j), oc = reverse4(_mm_loadu_ps(ai + (h - 4 - j)));
    const __m128 es = _mm_loadu_ps(sr + j), os = reverse4(_mm_loadu_ps(si + (h - 4 - j)));
    rotate(2 * j, _mm_unpacklo_ps(ec, oc), _mm_unpacklo_ps(es, os));
    rotate(2 * j + 4, _mm_unpackhi_ps(ec, oc), _mm_unpackhi_ps(es, os));
  }
}

// The synthesis's pair of transforms in one pass: C = DCT-IV(xr) and
// S = DST-IV(xi) as dctDstAnalysis() computes them, combined straight into
// v[m] = S[m] - C[m] and v[M + m] = C[M-1-m] + S[M-1-m] (the same operations
// in the same order, without the interleaved intermediate outputs). buf holds
// 4M floats of scratch.
void dctDstPair(const QmfBank* b, const float* xr, const float* xi, float* v, float* buf) {
  const int M = b->M, h = M / 2;
  const DctDstHalves t = dctDstTransforms(b, xr, xi, buf);
  const float *ar = t.ar, *ai = t.ai, *sr = t.sr, *si = t.si;
  // v[2j] = Es[j] - Ea[j], v[M-1-2j] = Os[j] - Oa[j], v[M+2j] = Oa[j] + Os[j],
  // v[2M-1-2j] = Ea[j] + Es[j].
  for (int j = 0; j < h; j += 4) {
    const int k = h - 4 - j;
    const __m128 d1 = _mm_sub_ps(_mm_loadu_ps(sr + j), _mm_loadu_ps(ar + j));
    const __m128 d2 = reverse4(_mm_sub_ps(_mm_loadu_ps(si + k), _mm_loadu_ps(ai + k)));
    _mm_storeu_ps(v + 2 * j, _mm_unpacklo_ps(d1, d2));
    _mm_storeu_ps(v + 2 * j + 4, _mm_unpackhi_ps(d1, d2));
    const __m128 s2 = _mm_add_ps(_mm_loadu_ps(ai + j), _mm_loadu_ps(si + j));
    const __m128 s1 = reverse4(_mm_add_ps(_mm_loadu_ps(ar + k), _mm_loadu_ps(sr + k)));
    _mm_storeu_ps(v + M + 2 * j, _mm_unpacklo_ps(s2, s1));
    _mm_storeu_ps(v + M + 2 * j + 4, _mm_unpackhi_ps(s2, s1));
  }
}

}  // namespace

SbrError createCplxAnalysisQmfBank(QmfBank** bank, int mode, int D, int A, int frameLength, int lowPower) {
  *bank = nullptr;
  QmfBank* b = new (std::nothrow) QmfBank();
  if (!b) return "Memory allocation in function createQmfBank() failed";
  if (mode != 0 || (D != 1 && D != 2)) {
    freeBank(b);
    return "Illegal QMF-bank mode in function createCplxAnalysisQmfBank()";
  }
  b->D = D;
  b->M = 64 / D;
  b->L = 640 / D;
  b->slots = frameLength / b->M;
  b->firstBand = 0;
  b->endBand = b->M;
  b->lowPower = lowPower;
  b->analysis = 1;
  const int M = b->M;
  // The direct modulation tables serve the real-valued kernel only.
  if (lowPower) {
    b->cosTab = allocFloats(static_cast<size_t>(M) * 2 * M);
    b->sinTab = allocFloats(static_cast<size_t>(M) * 2 * M);
  }
  b->window = allocFloats(b->L);
  if ((lowPower && (!b->cosTab || !b->sinTab)) || !b->window) {
    freeBank(b);
    return "Memory allocation in module CreateQmfBank() failed";
  }
  fillWindow(b);
  (void)A;
  if (!fillFastTables(b)) {
    freeBank(b);
    return "Memory allocation in module CreateQmfBank() failed";
  }
  for (int k = 0; lowPower && k < M; k++) {
    for (int n = 0; n < 2 * M; n++) {
      double ph;
      if (lowPower)
        ph = M_PI * (k + 0.5) * (2 * n - 3.0 * M) / (2.0 * M);
      else
        ph = M_PI * (k + 0.5) * (2 * n - 1.0 / D) / (2.0 * M);
      b->cosTab[k * 2 * M + n] = static_cast<float>(2.0 * std::cos(ph));
      b->sinTab[k * 2 * M + n] = static_cast<float>(2.0 * std::sin(ph));
    }
  }
  *bank = b;
  return nullptr;
}

SbrError createCplxSynthesisQmfBank(QmfBank** bank, int mode, int D, int frameLength, float g1, float g2,
                                    int lowPower) {
  *bank = nullptr;
  QmfBank* b = new (std::nothrow) QmfBank();
  if (!b) return "Memory allocation in function createCplxSynthesisQmfBank() failed";
  if (mode != 0 || (D != 1 && D != 2)) {
    freeBank(b);
    return "Illegal QMF-bank mode in function createCplxSynthesisQmfBank()";
  }
  b->D = D;
  b->M = 64 / D;
  b->L = 640 / D;
  b->slots = frameLength / b->M;
  b->firstBand = 0;
  b->endBand = b->M;
  b->lowPower = lowPower;
  b->scaleLow = g1 / 64.0f;
  b->scaleIn = g2 / 64.0f;
  const int M = b->M;
  if (lowPower) {
    b->cosTab = allocFloats(static_cast<size_t>(M) * 2 * M);
    b->sinTab = allocFloats(static_cast<size_t>(M) * 2 * M);
  }
  b->window = allocFloats(b->L);
  b->state = allocFloats(static_cast<size_t>(b->slots) * 2 * M + 2 * static_cast<size_t>(b->L));
  if ((lowPower && (!b->cosTab || !b->sinTab)) || !b->window || !b->state || !fillFastTables(b)) {
    freeBank(b);
    return "Memory allocation in module createSynthesisQmfBank() failed";
  }
  fillWindow(b);
  for (int n = 0; lowPower && n < 2 * M; n++) {
    for (int k = 0; k < M; k++) {
      double ph;
      if (lowPower)
        ph = M_PI * (k + 0.5) * (2 * n - M) / (2.0 * M);
      else
        ph = M_PI * (k + 0.5) * (2 * n - (4.0 * M - 1.0 / D)) / (2.0 * M);
      b->cosTab[n * M + k] = static_cast<float>(std::cos(ph));
      b->sinTab[n * M + k] = static_cast<float>(std::sin(ph));
    }
  }
  *bank = b;
  return nullptr;
}

void deleteQmfBank(QmfBank** bank) {
  if (!bank || !*bank) return;
  freeBank(*bank);
  *bank = nullptr;
}

void qmfResetState(QmfBank* b) {
  if (b && b->state)
    std::memset(b->state, 0, sizeof(float) * (static_cast<size_t>(b->slots) * 2 * b->M + 2 * b->L));
}

int qmfAnalysisFiltering(const float* input, float** re, float** im, QmfBank* b) {
  const int M = b->M, L = b->L, M2 = 2 * M;
  float u[128];
  for (int s = 0; s < b->slots; s++) {
    const float* x = input + s * M;  // oldest first; newest is x[L - 1]
    // u[n] = sum_j x[L - 1 - idx] c[idx], idx = n + 2Mj (the buffer read
    // newest first): sixteen n at a time in four registers, the input read
    // forwards and reversed in the register; each u[n] adds its five terms in
    // order, as a plain loop would.
    const float* w = b->window;
    auto rev = [](const float* p) { return reverse4(_mm_loadu_ps(p)); };
    for (int n = 0; n < M2; n += 16) {
      __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
      for (int j = 0; j < 5; j++) {
        const int idx = n + M2 * j;
        const float* xr = x + (L - 4 - idx);  // x[L - 1 - idx] is its last value
        a0 = _mm_add_ps(a0, _mm_mul_ps(rev(xr), _mm_loadu_ps(w + idx)));
        a1 = _mm_add_ps(a1, _mm_mul_ps(rev(xr - 4), _mm_loadu_ps(w + idx + 4)));
        a2 = _mm_add_ps(a2, _mm_mul_ps(rev(xr - 8), _mm_loadu_ps(w + idx + 8)));
        a3 = _mm_add_ps(a3, _mm_mul_ps(rev(xr - 12), _mm_loadu_ps(w + idx + 12)));
      }
      _mm_storeu_ps(u + n, a0);
      _mm_storeu_ps(u + n + 4, a1);
      _mm_storeu_ps(u + n + 8, a2);
      _mm_storeu_ps(u + n + 12, a3);
    }
    float* r = re[s];
    float* q = im ? im[s] : nullptr;
    if (!b->lowPower && q) {
      // Fold into a DCT-IV (real part) and a DST-IV (imaginary part), then rotate.
      float* fr = b->work;
      float* fq = b->work + M;
      float* buf = b->work + 2 * M;
      for (int n = 0; n < M; n += 4) {
        const __m128 lo = _mm_loadu_ps(u + n), hi = rev(u + (M2 - 4 - n));  // u[M2 - 1 - n] ..
        _mm_storeu_ps(fr + n, _mm_sub_ps(lo, hi));
        _mm_storeu_ps(fq + n, _mm_add_ps(lo, hi));
      }
      dctDstAnalysis(b, fr, fq, r, q, buf);
      continue;
    }
    for (int k = 0; k < M; k++) {
      const float* ct = b->cosTab + k * M2;
      const float* st = b->sinTab + k * M2;
      float ar = 0.0f, ai = 0.0f;
      for (int n = 0; n < M2; n++) {
        ar += u[n] * ct[n];
        ai += u[n] * st[n];
      }
      r[k] = ar;
      if (q) q[k] = b->lowPower ? 0.0f : ai;
    }
  }
  return b->slots;
}

void qmfSynthesisFiltering(float** re, float** im, float* output, QmfBank* b) {
  const int M = b->M, L = b->L, M2 = 2 * M, S = b->slots;
  // The v history of the previous frame moves behind this frame's new values.
  std::memmove(b->state + static_cast<size_t>(S) * M2, b->state, sizeof(float) * 2 * L);
  float xr[64], xi[64], gain[64], gc[64], gs[64];
  for (int k = 0; k < M; k++) gain[k] = k < b->firstBand ? b->scaleLow : (k < b->endBand ? b->scaleIn : 0.0f);
  // Band gains folded into the rotation to the DCT-IV phase.
  for (int k = 0; k < M; k++) {
    gc[k] = gain[k] * b->bandRot[k];
    gs[k] = gain[k] * b->bandRot[M + k];
  }
  for (int s = 0; s < S; s++) {
    float* v = b->state + static_cast<size_t>(S - 1 - s) * M2;  // newest block of this slot
    if (b->lowPower) {
      // Real-valued bank: twice the cosine part (the imaginary half is absent).
      for (int k = 0; k < M; k++) xr[k] = 2.0f * re[s][k] * gain[k];
      for (int n = 0; n < M2; n++) {
        const float* ct = b->cosTab + n * M;
        float acc = 0.0f;
        for (int k = 0; k < M; k++) acc += xr[k] * ct[k];
        v[n] = acc;
      }
    } else {
      // Rotate to the DCT-IV phase, then v[m] = -(C[m] - S[m]), v[M + m] = C[M-1-m] + S[M-1-m].
      const float* __restrict sr = re[s];
      if (im) {
        const float* __restrict si = im[s];
        for (int k = 0; k < M; k++) {
          xr[k] = sr[k] * gc[k] - si[k] * gs[k];
          xi[k] = sr[k] * gs[k] + si[k] * gc[k];
        }
      } else {
        for (int k = 0; k < M; k++) {
          xr[k] = sr[k] * gc[k];
          xi[k] = sr[k] * gs[k];
        }
      }
      dctDstPair(b, xr, xi, v, b->work);
    }
    // Windowing: out[j] = sum_i v[4Mi + j] c[2Mi + j] + v[4Mi + 3M + j] c[2Mi + M + j],
    // sixteen outputs at a time in four registers, whose sums do not wait on
    // each other (each output still adds its ten terms in the same order).
    float* out = output + s * M;
    const float* w = b->window;
    for (int j = 0; j < M; j += 16) {
      __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
      for (int i = 0; i < 5; i++) {
        const float* v0 = v + 4 * M * i + j;
        const float* w0 = w + 2 * M * i + j;
        a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(v0), _mm_loadu_ps(w0)));
        a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(v0 + 4), _mm_loadu_ps(w0 + 4)));
        a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(v0 + 8), _mm_loadu_ps(w0 + 8)));
        a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(v0 + 12), _mm_loadu_ps(w0 + 12)));
        const float* v1 = v0 + 3 * M;
        const float* w1 = w0 + M;
        a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(v1), _mm_loadu_ps(w1)));
        a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(v1 + 4), _mm_loadu_ps(w1 + 4)));
        a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(v1 + 8), _mm_loadu_ps(w1 + 8)));
        a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(v1 + 12), _mm_loadu_ps(w1 + 12)));
      }
      _mm_storeu_ps(out + j, a0);
      _mm_storeu_ps(out + j + 4, a1);
      _mm_storeu_ps(out + j + 8, a2);
      _mm_storeu_ps(out + j + 12, a3);
    }
  }
}
