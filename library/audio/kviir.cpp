// IIR design (prototype poles, pre-warped analogue transform, bilinear
// transform, pairing into sections, normalising gain) and processing.
#include "kviir.h"

#include <cmath>
#include <cstring>

#include "kvaudio_internal.h"
#include "kvcpufeatures.h"

namespace {

// Complex numbers with plain formulas, so that conjugate inputs always give
// exactly conjugate results (the pairing below relies on it).
struct Cx {
  double re, im;
};
inline Cx Add(Cx a, Cx b) { return {a.re + b.re, a.im + b.im}; }
inline Cx Sub(Cx a, Cx b) { return {a.re - b.re, a.im - b.im}; }
inline Cx Mul(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Cx Scale(Cx a, double k) { return {a.re * k, a.im * k}; }
inline Cx Div(Cx a, Cx b) {
  double d = b.re * b.re + b.im * b.im;
  return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}
inline double Abs(Cx a) { return std::sqrt(a.re * a.re + a.im * a.im); }
// Principal square root.
inline Cx Sqrt(Cx z) {
  double m = Abs(z);
  Cx r = {std::sqrt((m + z.re) / 2), std::sqrt((m - z.re) / 2)};
  if (z.im < 0) r.im = -r.im;
  return r;
}

const double kPi = 3.14159265358979323846;

// Bessel prototype poles for orders 1 to 10 (phase-normalised).
const double kBessel[30][2] = {
    {-1.0, 0.0},           {-0.8660254, -0.5},      {-0.9416, 0.0},          {-0.7456404, -0.7113666},
    {-0.9047588, -0.2709187}, {-0.6572112, -0.8301614}, {-0.9264421, 0.0},   {-0.8515536, -0.4427175},
    {-0.5905759, -0.9072068}, {-0.9093907, -0.1856964}, {-0.7996542, -0.5621717}, {-0.5385527, -0.9616877},
    {-0.9194872, 0.0},     {-0.8800029, -0.3216653}, {-0.7527355, -0.6504696}, {-0.4966917, -1.002509},
    {-0.9096832, -0.1412438}, {-0.8473251, -0.4259018}, {-0.7111382, -0.7186517}, {-0.462174, -1.034389},
    {-0.9154958, 0.0},     {-0.8911217, -0.2526581}, {-0.8148021, -0.5085816}, {-0.6743623, -0.7730546},
    {-0.4331416, -1.060074}, {-0.9091347, -0.1139583}, {-0.868846, -0.3430008}, {-0.7837694, -0.5759148},
    {-0.6417514, -0.8175836}, {-0.4083221, -1.081275},
};

struct PoleZero {
  Cx poles[31];
  Cx zeros[31];
  int np = 0, nz = 0;
};

void Prototype(KVIIR_DESIGN design, unsigned order, PoleZero& pz) {
  pz.np = pz.nz = 0;
  if (design == KVIIR_BESSEL) {
    unsigned idx = order * order / 4;
    unsigned rows = 0, need = (order + 1) / 2;
    for (; rows < need && idx < 30; ++rows, ++idx) {
      Cx p = {kBessel[idx][0], kBessel[idx][1]};
      if ((order & 1) && rows == 0) {
        pz.poles[pz.np++] = p;
      } else {
        pz.poles[pz.np++] = p;
        pz.poles[pz.np++] = {p.re, -p.im};
      }
    }
    return;
  }
  const double h = (order & 1) ? 0.0 : 0.5;
  for (unsigned k = 0; k < 2 * order; ++k) {
    double th = kPi * (k + h) / order;
    double c = std::cos(th), s = std::sin(th);
    if (!(c < 0)) continue;
    if ((order & 1) && std::fabs(s) < 1e-10) s = 0.0;
    Cx p = {c, s};
    for (int i = 0; i < pz.np; ++i)
      if (std::fabs(pz.poles[i].re - c) < 1e-10 && std::fabs(pz.poles[i].im + s) < 1e-10) {
        p = {pz.poles[i].re, -pz.poles[i].im};
        break;
      }
    pz.poles[pz.np++] = p;
  }
  if (design == KVIIR_CHEBYSHEV) {
    const double eps = std::sqrt(std::pow(10.0, 0.05) - 1.0);
    const double a = std::log(1.0 / eps + std::sqrt(1.0 / (eps * eps) + 1.0)) / order;
    for (int i = 0; i < pz.np; ++i) {
      pz.poles[i].re *= std::sinh(a);
      pz.poles[i].im *= std::cosh(a);
    }
  }
}

void AnalogTransform(KVIIR_TYPE type, double flo, double fhi, PoleZero& pz) {
  const double w1 = 2 * std::tan(kPi * flo), w2 = 2 * std::tan(kPi * fhi);
  const double bw = w2 - w1, w0 = std::sqrt(w1 * w2);
  const int n = pz.np;
  switch (type) {
    case KVIIR_LOWPASS:
      for (int i = 0; i < n; ++i) pz.poles[i] = Scale(pz.poles[i], w1);
      pz.nz = 0;
      break;
    case KVIIR_HIGHPASS:
      for (int i = 0; i < n; ++i) {
        pz.poles[i] = Div({w1, 0}, pz.poles[i]);
        pz.zeros[i] = {0, 0};
      }
      pz.nz = n;
      break;
    case KVIIR_BANDSTOP:
    case KVIIR_BANDPASS: {
      Cx proto[31];
      for (int i = 0; i < n; ++i) proto[i] = pz.poles[i];
      for (int i = 0; i < n; ++i) {
        Cx h = type == KVIIR_BANDSTOP ? Div({bw, 0}, Scale(proto[i], 2)) : Scale(proto[i], bw / 2);
        Cx q = Div({w0, 0}, h);
        Cx s = Sqrt(Sub({1, 0}, Mul(q, q)));
        pz.poles[i] = Mul(h, Add({1, 0}, s));
        pz.poles[n + i] = Mul(h, Sub({1, 0}, s));
      }
      pz.np = 2 * n;
      if (type == KVIIR_BANDSTOP) {
        for (int i = 0; i < n; ++i) {
          pz.zeros[i] = {0, w0};
          pz.zeros[n + i] = {0, -w0};
        }
        pz.nz = 2 * n;
      } else {
        for (int i = 0; i < n; ++i) pz.zeros[i] = {0, 0};
        pz.nz = n;
      }
      break;
    }
  }
}

void Bilinear(PoleZero& pz) {
  for (int i = 0; i < pz.np; ++i) pz.poles[i] = Div(Add({2, 0}, pz.poles[i]), Sub({2, 0}, pz.poles[i]));
  for (int i = 0; i < pz.nz; ++i) pz.zeros[i] = Div(Add({2, 0}, pz.zeros[i]), Sub({2, 0}, pz.zeros[i]));
  while (pz.nz < pz.np) pz.zeros[pz.nz++] = {-1, 0};
}

// Horner evaluation of the monic polynomial with the given roots.
Cx Monic(const Cx* roots, int n, Cx z) {
  Cx v = {1, 0};
  for (int i = 0; i < n; ++i) v = Mul(v, Sub(z, roots[i]));
  return v;
}

HRESULT Resonator(KVIIR_TYPE type, double freq, double q, PoleZero& pz) {
  const double w = 2 * kPi * freq, r = std::exp(-w / (2 * q));
  pz.np = pz.nz = 2;
  if (type == KVIIR_BANDSTOP) {
    pz.poles[0] = {r * std::cos(w), r * std::sin(w)};
    pz.poles[1] = {r * std::cos(w), -r * std::sin(w)};
    pz.zeros[0] = {std::cos(w), std::sin(w)};
    pz.zeros[1] = {std::cos(w), -std::sin(w)};
    return S_OK;
  }
  pz.zeros[0] = {1, 0};
  pz.zeros[1] = {-1, 0};
  double th = w, lo = w - 1 / q, hi = w + 1 / q;
  if (lo < 0) lo = 0;
  if (hi > kPi) hi = kPi;
  const Cx ejw = {std::cos(w), std::sin(w)};
  for (int it = 0; it < 50; ++it) {
    pz.poles[0] = {r * std::cos(th), r * std::sin(th)};
    pz.poles[1] = {r * std::cos(th), -r * std::sin(th)};
    Cx H = Div(Monic(pz.zeros, 2, ejw), Monic(pz.poles, 2, ejw));
    double ratio = H.im / H.re;
    if (std::fabs(ratio) < 1e-10) return S_OK;
    if (ratio > 0)
      hi = th;
    else
      lo = th;
    th = (lo + hi) / 2;
  }
  return E_FAIL;
}

double Quality(Cx p) {
  if (std::fabs(p.im) < 1e-10) return 0.5;
  double r = Abs(p);
  return std::sqrt((r * r + 1) * (r * r + 1) - 4 * p.re * p.re) / (2 * (1 - r * r));
}

void MoveTo(Cx* a, int from, int to) {
  Cx v = a[from];
  if (from < to)
    for (int i = from; i < to; ++i) a[i] = a[i + 1];
  else
    for (int i = from; i > to; --i) a[i] = a[i - 1];
  a[to] = v;
}

// Orders poles into conjugate pairs (highest quality first) followed by the
// unpaired real poles, and matches a zero pair to every pole pair.
int PairUp(PoleZero& pz) {
  Cx* P = pz.poles;
  const int n = pz.np;
  int end = n, i = 0;
  while (i < end) {
    int j = i + 1;
    for (; j < end; ++j)
      if (P[j].re == P[i].re && P[j].im == -P[i].im) break;
    if (j < end) {
      MoveTo(P, j, i + 1);
      if (P[i].im < 0) std::swap(P[i], P[i + 1]);
      i += 2;
    } else {
      MoveTo(P, i, n - 1);
      --end;
    }
  }
  const int pairs = end / 2;
  double q[16];
  for (int k = 0; k < pairs; ++k) q[k] = Quality(P[2 * k]);
  for (int a = 0; a < pairs; ++a)
    for (int b = a + 1; b < pairs; ++b)
      if (q[b] > q[a]) {
        std::swap(q[a], q[b]);
        std::swap(P[2 * a], P[2 * b]);
        std::swap(P[2 * a + 1], P[2 * b + 1]);
      }
  // Zero pairs nearest to each pole pair; the rest follow in their order.
  const int zpairs = pz.nz / 2;
  bool taken[16] = {};
  Cx out[31];
  int o = 0;
  for (int k = 0; k < pairs && k < zpairs; ++k) {
    int best = -1;
    double bd = 0;
    for (int m = 0; m < zpairs; ++m) {
      if (taken[m]) continue;
      double d = Abs(Sub(pz.zeros[2 * m], P[2 * k]));
      if (best < 0 || d < bd) {
        best = m;
        bd = d;
      }
    }
    taken[best] = true;
    out[o++] = pz.zeros[2 * best];
    out[o++] = pz.zeros[2 * best + 1];
  }
  for (int m = 0; m < zpairs; ++m)
    if (!taken[m]) {
      out[o++] = pz.zeros[2 * m];
      out[o++] = pz.zeros[2 * m + 1];
    }
  for (int z = 2 * zpairs; z < pz.nz; ++z) out[o++] = pz.zeros[z];
  for (int z = 0; z < pz.nz; ++z) pz.zeros[z] = out[z];
  return pairs;
}

inline double Flush(double v) { return (v > -1e-34 && v < 1e-34) ? 0.0 : v; }

}  // namespace

CKvIIR::CKvIIR() {
  std::memset(static_cast<void*>(this), 0, sizeof *this);
}

CKvIIR::CKvIIR(const CKvIIR* other) {
  if (other)
    std::memcpy(static_cast<void*>(this), other, sizeof *this);
  else
    std::memset(static_cast<void*>(this), 0, sizeof *this);
}

CKvIIR& CKvIIR::operator=(const CKvIIR& other) {
  if (this != &other) std::memcpy(static_cast<void*>(this), &other, sizeof *this);
  return *this;
}

void CKvIIR::Clear() {
  m_gain = m_dry = 0;
  m_lastMask = 0;
  m_numBiquads = 0;
  std::memset(m_poly, 0, sizeof m_poly);
  std::memset(m_biquads, 0, sizeof m_biquads);
}

HRESULT CKvIIR::Design(KVIIR_TYPE type, KVIIR_DESIGN design, unsigned int order, double freq, double bandwidth,
                       double gainDb, unsigned int channels, unsigned long flags) {
  // A frequency at or below 0 (or NaN) gives poles outside the unit circle
  // or silence; it is refused like one above Nyquist, before anything changes.
  if (!(freq > 0) || freq > 0.5) return E_INVALIDARG;
  const bool banded = design == KVIIR_RESONATOR || type == KVIIR_BANDSTOP || type == KVIIR_BANDPASS;
  if (banded && !(bandwidth > 0)) return E_INVALIDARG;
  Clear();
  double flo = freq, fhi = freq;
  PoleZero pz;
  if (design == KVIIR_RESONATOR) {
    if (type != KVIIR_BANDSTOP && type != KVIIR_BANDPASS) return E_INVALIDARG;
    HRESULT hr = Resonator(type, freq, bandwidth, pz);
    if (FAILED(hr)) return hr;
  } else {
    if (order < 1 || order > 15 || design > KVIIR_RESONATOR) return E_INVALIDARG;
    if (type == KVIIR_BANDSTOP && gainDb != 0) {
      type = KVIIR_BANDPASS;
      gainDb = -gainDb;
    }
    if (type == KVIIR_BANDSTOP || type == KVIIR_BANDPASS) {
      const double k = std::sqrt(std::pow(2.0, bandwidth));
      flo = freq / k;
      fhi = freq * k;
      // An upper edge at Nyquist itself maps to an infinite pre-warped
      // frequency (unstable poles, NaN gain): it is held just below.
      if (fhi > 0.49) fhi = 0.49;
      if (flo >= fhi) return E_INVALIDARG;
    }
    Prototype(design, order, pz);
    AnalogTransform(type, flo, fhi, pz);
    Bilinear(pz);
  }
  PairUp(pz);
  // Sections from the end of the pole list backwards.
  int np = pz.np, nz = pz.nz;
  unsigned s = 0;
  while (np > 0 && s < kMaxBiquads) {
    tKVIIR_BIQUAD& b = m_biquads[s++];
    b.b0 = 1;
    if (np & 1) {
      Cx p = pz.poles[np - 1], q = nz > 0 ? pz.zeros[nz - 1] : Cx{0, 0};
      b.b1 = -q.re;
      b.b2 = 0;
      b.a1 = p.re;
      b.a2 = 0;
      np -= 1;
      nz -= 1;
    } else {
      Cx p1 = pz.poles[np - 2], p2 = pz.poles[np - 1];
      Cx q1 = nz > 1 ? pz.zeros[nz - 2] : Cx{0, 0}, q2 = nz > 0 ? pz.zeros[nz - 1] : Cx{0, 0};
      b.b1 = -(q1.re + q2.re);
      b.b2 = q2.im == 0 ? q1.re * q2.re : Abs(q1) * Abs(q2);
      b.a1 = p1.re + p2.re;
      b.a2 = -Mul(p1, p2).re;
      np -= 2;
      nz -= 2;
    }
  }
  m_numBiquads = s;
  // Normalising gain at the reference frequency of the type.
  double g0 = 1, gpi = 1;
  Cx hc = {1, 0};
  const double phi = -kPi * (flo + fhi);
  const Cx e1 = {std::cos(phi), std::sin(phi)}, e2 = {std::cos(2 * phi), std::sin(2 * phi)};
  for (unsigned i = 0; i < m_numBiquads; ++i) {
    const tKVIIR_BIQUAD& b = m_biquads[i];
    g0 *= (b.b0 + b.b1 + b.b2) / (1 - b.a1 - b.a2);
    gpi *= (b.b0 - b.b1 + b.b2) / (1 + b.a1 - b.a2);
    Cx num = Add(Add({b.b0, 0}, Scale(e1, b.b1)), Scale(e2, b.b2));
    Cx den = Sub(Sub({1, 0}, Scale(e1, b.a1)), Scale(e2, b.a2));
    hc = Mul(hc, Div(num, den));
  }
  double divisor;
  switch (type) {
    case KVIIR_LOWPASS: divisor = g0; break;
    case KVIIR_HIGHPASS: divisor = gpi; break;
    case KVIIR_BANDSTOP: divisor = (g0 == 0 || gpi == 0) ? 0 : std::sqrt(g0 * gpi); break;
    default: divisor = Abs(hc); break;
  }
  // A zero, infinite or NaN reference response leaves the gain at 1.
  m_gain = (divisor != 0 && std::isfinite(divisor) && std::isfinite(1 / divisor)) ? 1 / divisor : 1;
  if (gainDb != 0) {
    m_gain = (std::pow(10.0, gainDb / 20) - 1) * m_gain;
    m_dry = 1.0;
  }
  m_channels = channels;
  m_lastMask = 3;
  m_twoChannelKernel = (channels == 2 && !(flags & 1)) ? ((KvAudioCpu_GetSupport(KVCPU_SIMD_MASK) & KVCPU_SSE2) ? 1u : 0u) : 0u;
  return S_OK;
}

unsigned long CKvIIR::UpdateMask(unsigned long mask) {
  if (mask == 0) mask = 3;
  if (mask != m_lastMask) {
    Reset(mask & ~static_cast<unsigned long>(m_lastMask));
    m_lastMask = static_cast<uint32_t>(mask);
  }
  return mask;
}

namespace {

template <class T>
void RunChannel(tKVIIR_BIQUAD* bq, unsigned nb, double gain, double dry, unsigned c, unsigned stride, T* out,
                const T* in, unsigned frames) {
  for (unsigned i = 0; i < frames; ++i) {
    const double x = in[static_cast<size_t>(i) * stride + c];
    double v = gain * x;
    for (unsigned s = 0; s < nb; ++s) {
      tKVIIR_BIQUAD& b = bq[s];
      const double oz1 = b.z1[c], oz2 = b.z2[c];
      const double w = v + b.a1 * oz1 + b.a2 * oz2;
      b.z2[c] = Flush(oz1);
      b.z1[c] = Flush(w);
      v = b.b0 * b.z1[c] + b.b1 * b.z2[c] + b.b2 * oz2;
    }
    out[static_cast<size_t>(i) * stride + c] = static_cast<T>(v + dry * x);
  }
}

}  // namespace

void CKvIIR::ProcessFloat(float* out, const float* in, unsigned int frames, unsigned long mask) {
  mask = UpdateMask(mask);
  for (unsigned c = 0; c < 2 && c < m_channels; ++c)
    if (mask & (1ul << c)) RunChannel(m_biquads, m_numBiquads, m_gain, m_dry, c, m_channels, out, in, frames);
}

void CKvIIR::ProcessDouble(double* out, const double* in, unsigned int frames, unsigned long mask) {
  mask = UpdateMask(mask);
  if (m_twoChannelKernel && mask == 3 && m_channels == 2) {
    // Both channels together; at the end of the call every delay element
    // below 2^-32 in magnitude is cleared, so decaying states never become
    // denormal.
    for (unsigned i = 0; i < frames; ++i) {
      const double x0 = in[2 * i], x1 = in[2 * i + 1];
      double v0 = m_gain * x0, v1 = m_gain * x1;
      for (unsigned s = 0; s < m_numBiquads; ++s) {
        tKVIIR_BIQUAD& b = m_biquads[s];
        const double o10 = b.z1[0], o11 = b.z1[1], o20 = b.z2[0], o21 = b.z2[1];
        const double w0 = Flush(v0 + b.a1 * o10 + b.a2 * o20), w1 = Flush(v1 + b.a1 * o11 + b.a2 * o21);
        b.z2[0] = Flush(o10);
        b.z2[1] = Flush(o11);
        b.z1[0] = w0;
        b.z1[1] = w1;
        v0 = b.b0 * w0 + b.b1 * b.z2[0] + b.b2 * o20;
        v1 = b.b0 * w1 + b.b1 * b.z2[1] + b.b2 * o21;
      }
      out[2 * i] = v0 + m_dry * x0;
      out[2 * i + 1] = v1 + m_dry * x1;
    }
    const double tiny = 1.0 / 4294967296.0;
    for (unsigned s = 0; s < m_numBiquads; ++s)
      for (int c = 0; c < 2; ++c) {
        if (std::fabs(m_biquads[s].z1[c]) < tiny) m_biquads[s].z1[c] = 0;
        if (std::fabs(m_biquads[s].z2[c]) < tiny) m_biquads[s].z2[c] = 0;
      }
    return;
  }
  for (unsigned c = 0; c < 2 && c < m_channels; ++c)
    if (mask & (1ul << c)) RunChannel(m_biquads, m_numBiquads, m_gain, m_dry, c, m_channels, out, in, frames);
}

void CKvIIR::Reset(unsigned long mask) {
  for (unsigned c = 0; c < 2 && c < m_channels; ++c) {
    if (!(mask & (1ul << c))) continue;
    for (unsigned s = 0; s < m_numBiquads && s < kMaxBiquads; ++s) {
      m_biquads[s].z1[c] = 0;
      m_biquads[s].z2[c] = 0;
    }
  }
}

void CKvIIR::ResetAll() { Reset(3); }

void CKvIIR::SetDelayElementsFrom(const CKvIIR* source) {
  if (!source) return;
  for (unsigned s = 0; s < source->m_numBiquads && s < kMaxBiquads; ++s) {
    std::memcpy(m_biquads[s].z1, source->m_biquads[s].z1, sizeof m_biquads[s].z1);
    std::memcpy(m_biquads[s].z2, source->m_biquads[s].z2, sizeof m_biquads[s].z2);
  }
}

const tKVIIR_POLYNOMIAL* CKvIIR::getPolynomial(unsigned int i) const { return i < 2 ? &m_poly[i] : nullptr; }

const tKVIIR_BIQUAD* CKvIIR::getBiquad(unsigned int i) const {
  return i < m_numBiquads ? &m_biquads[i] : nullptr;
}
