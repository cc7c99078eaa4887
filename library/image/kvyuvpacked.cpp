// Packed 4:2:2 conversions and the v210 repacker.
#include "kvyuvpacked.h"

#include <cmath>
#include <cstring>

#include "kvparallel.h"
#include "kvyuvkernels.h"

const double KvYUVCoeffs_BT601[13] = {
    0.299, 0.587, 0.114,
    -0.17255159817351595, -0.3388639269406392, 0.5114155251141552,
    0.5114155251141552, -0.4282593607305937, -0.08315616438356163,
    1.370705357142857, -0.6981602678571429, -0.33641919642857143, 1.7324464285714285,
};
const double KvYUVCoeffs_BT709[13] = {
    0.2126, 0.7152, 0.0722,
    -0.11721643835616437, -0.39419908675799087, 0.5114155251141552,
    0.5114155251141552, -0.4645698630136986, -0.04684566210045662,
    1.5396482142857142, -0.45765133928571433, -0.1831191964285714, 1.8141803571428572,
};

namespace {

using Fixed = KvUyvyFixed;

int32_t Round(double v) { return static_cast<int32_t>(std::lround(v)); }

Fixed MakeFixed(const double* c) {
  return {Round(c[9] * 4096),  Round(c[10] * 4096), Round(c[11] * 4096), Round(c[12] * 4096),
          Round(c[0] * 4096),  Round(c[1] * 4096),  Round(c[2] * 4096),  Round(c[3] * 2048),
          Round(c[4] * 2048),  Round(c[5] * 2048),  Round(c[6] * 2048),  Round(c[7] * 2048),
          Round(c[8] * 2048)};
}

const Fixed& Coefficients(int32_t selector, int32_t height) {
  static const Fixed bt601 = MakeFixed(KvYUVCoeffs_BT601);
  static const Fixed bt709 = MakeFixed(KvYUVCoeffs_BT709);
  if (selector == 1) return bt601;
  if (selector == 2) return bt709;
  return height >= 720 ? bt709 : bt601;
}

HRESULT Check(const BYTE* dst, const BYTE* src, int32_t pitch, int32_t width, int32_t height, int bytes) {
  if (!dst || !src) return E_POINTER;
  if (width < 1 || height < 1 || (width & 1)) return E_INVALIDARG;
  const int64_t p = pitch < 0 ? -int64_t(pitch) : int64_t(pitch);
  if (p < int64_t(width) * bytes) return E_INVALIDARG;
  return S_OK;
}

// Rows one by one on the calling thread, or divided among the threads.
template <class Body>
void Rows(int32_t height, bool parallel, const Body& body) {
  if (parallel) {
    KvParallelRows(0, height, body);
  } else {
    for (int32_t row = 0; row < height; ++row) body(row);
  }
}

template <int Bytes>
HRESULT ToRgb(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t width, int32_t height, int32_t selector,
              bool parallel) {
  HRESULT hr = Check(dst, src, dstPitch, width, height, Bytes);
  if (FAILED(hr)) return hr;
  const Fixed& k = Coefficients(selector, height);
  const KvYuvRowKernels& kernels = KvYuvKernels();
  Rows(height, parallel, [&](int32_t row) {
    const BYTE* s = src + int64_t(row) * width * 2;
    BYTE* d = dst + int64_t(row) * dstPitch;
    (Bytes == 4 ? kernels.uyvyToBgra : kernels.uyvyToBgr)(d, s, width, k);
  });
  return S_OK;
}

template <int Bytes>
HRESULT FromRgb(BYTE* dst, const BYTE* src, int32_t srcPitch, int32_t width, int32_t height, int32_t selector,
                bool parallel) {
  HRESULT hr = Check(dst, src, srcPitch, width, height, Bytes);
  if (FAILED(hr)) return hr;
  const Fixed& k = Coefficients(selector, height);
  const KvYuvRowKernels& kernels = KvYuvKernels();
  Rows(height, parallel, [&](int32_t row) {
    const BYTE* s = src + int64_t(row) * srcPitch;
    BYTE* d = dst + int64_t(row) * width * 2;
    (Bytes == 4 ? kernels.bgraToUyvy : kernels.bgrToUyvy)(d, s, width, k);
  });
  return S_OK;
}

inline uint32_t Word(const BYTE* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
// Sample i (0..2) of a v210 word, top 8 of its 10 bits.
inline BYTE Sample(uint32_t w, int i) { return static_cast<BYTE>((w >> (10 * i + 2)) & 0xFF); }

}  // namespace

HRESULT KVAPI KvUYVY2RGBA(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t width, int32_t height,
                          int32_t selector) {
  return ToRgb<4>(dst, src, dstPitch, width, height, selector, false);
}
HRESULT KVAPI KvUYVY2RGB(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t width, int32_t height,
                         int32_t selector) {
  return ToRgb<3>(dst, src, dstPitch, width, height, selector, false);
}
HRESULT KVAPI KvRGBA2UYVY(BYTE* dst, const BYTE* src, int32_t srcPitch, int32_t width, int32_t height,
                          int32_t selector) {
  return FromRgb<4>(dst, src, srcPitch, width, height, selector, false);
}
HRESULT KVAPI KvRGB2UYVY(BYTE* dst, const BYTE* src, int32_t srcPitch, int32_t width, int32_t height,
                         int32_t selector) {
  return FromRgb<3>(dst, src, srcPitch, width, height, selector, false);
}

HRESULT KVAPI KvYUV_v210_TO_UYVY(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t srcPitch, int32_t width,
                                 int32_t height) {
  if (!dst || !src) return E_POINTER;
  if (width < 1 || height < 1 || (width & 1) || dstPitch < 1 || srcPitch < 1) return E_INVALIDARG;
  if (int64_t(dstPitch) < int64_t(width) * 2 || int64_t(srcPitch) < (int64_t(width) + 5) / 6 * 16)
    return E_INVALIDARG;
  for (int32_t row = 0; row < height; ++row) {
    const BYTE* s = src + int64_t(row) * srcPitch;
    BYTE* d = dst + int64_t(row) * dstPitch;
    int32_t left = width;
    for (; left > 0; left -= 6, s += 16) {
      const uint32_t w0 = Word(s), w1 = Word(s + 4);
      // Words: U0 Y0 V0 | Y1 U1 Y2 | V1 Y3 U2 | Y4 V2 Y5.
      const BYTE m0[4] = {Sample(w0, 0), Sample(w0, 1), Sample(w0, 2), Sample(w1, 0)};
      std::memcpy(d, m0, 4);
      d += 4;
      if (left == 2) break;
      const uint32_t w2 = Word(s + 8);
      const BYTE m1[4] = {Sample(w1, 1), Sample(w1, 2), Sample(w2, 0), Sample(w2, 1)};
      std::memcpy(d, m1, 4);
      d += 4;
      if (left == 4) break;
      const uint32_t w3 = Word(s + 12);
      const BYTE m2[4] = {Sample(w2, 2), Sample(w3, 0), Sample(w3, 1), Sample(w3, 2)};
      std::memcpy(d, m2, 4);
      d += 4;
    }
  }
  return S_OK;
}

HRESULT KvUyvyToBgraFrame(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t width, int32_t height,
                          int32_t selector) {
  return ToRgb<4>(dst, src, dstPitch, width, height, selector, true);
}
HRESULT KvBgraToUyvyFrame(BYTE* dst, const BYTE* src, int32_t srcPitch, int32_t width, int32_t height,
                          int32_t selector) {
  return FromRgb<4>(dst, src, srcPitch, width, height, selector, true);
}

const KvUyvyFixed& KvUyvyCoefficients(int32_t selector, int32_t height) { return Coefficients(selector, height); }
