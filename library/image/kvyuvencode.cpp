// Bitmaps to YUV frames: the eight encoders of KvYUV_RGBToYUV (8-bit and
// float BGRA into "UYVY", "YUYV", "v210" and "I420") with ordered dither
// and legal-range clamps.
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "kvgammacurve.h"
#include "kvimagecpu.h"
#include "kvparallel.h"
#include "kvyuvframe.h"
#include "kvyuvkernels.h"
#include "kvyuvpacked.h"

namespace {

struct Weights {
  float luma[3];  // Kr, Kg, Kb
  float cb[3];    // R, G, B
  float cr[3];
};
const Weights kBT601 = {{0.299f, 0.587f, 0.114f}, {-0.1687f, -0.3313f, 0.5f}, {0.5f, -0.4187f, -0.0813f}};
const Weights kBT709 = {{0.2126f, 0.7152f, 0.0722f}, {-0.1146f, -0.3854f, 0.5f}, {0.5f, -0.4542f, -0.0458f}};

const float kDither[4][4] = {{0.0f, 0.5f, 0.125f, 0.625f},
                             {0.75f, 0.25f, 0.875f, 0.375f},
                             {0.1875f, 0.6875f, 0.0625f, 0.5625f},
                             {0.9375f, 0.4375f, 0.8125f, 0.3125f}};
const float kChromaScale = 1.0228310823440552f;  // 224 / 219

// Clamped to lo..hi, then rounded down (v - 0.499999985 rounded to nearest).
inline int32_t Down(double v, int32_t lo, int32_t hi) {
  if (!(v > lo)) v = lo;
  if (v > hi) v = hi;
  return static_cast<int32_t>(std::nearbyint(v - 0.499999985));
}

struct Encoder {
  const BITMAPINFOHEADER* yuvHeader;
  BYTE* yuv;
  KvYUVPlaneLayout layout;
  const BYTE* dibBits;
  int32_t dibStride;
  int32_t W, H;
  int32_t fieldOrder;
  const Weights* w;
  bool isFloat;
  std::unique_ptr<KvGammaCurve> curve;
  // RGB of pixel x of YUV row r (the bitmap is bottom-up): 8-bit values or
  // normalised floats through the curve.
  void Rgb(int32_t r, int32_t x, float rgb[3]) const {
    const BYTE* row = dibBits + int64_t(H - 1 - r) * dibStride;
    if (isFloat) {
      float f[4];
      std::memcpy(f, row + int64_t(x) * 16, 16);
      rgb[0] = f[2];
      rgb[1] = f[1];
      rgb[2] = f[0];
      if (curve)
        for (int i = 0; i < 3; ++i) rgb[i] = curve->Lookup(rgb[i]);
    } else {
      const BYTE* p = row + int64_t(x) * 4;
      rgb[0] = p[2];
      rgb[1] = p[1];
      rgb[2] = p[0];
    }
  }
  float Luma(const float c[3]) const { return w->luma[0] * c[0] + w->luma[1] * c[1] + w->luma[2] * c[2]; }
  static float Dot(const float k[3], const float c[3]) { return k[0] * c[0] + k[1] * c[1] + k[2] * c[2]; }
};

// 4:2:2 packed from float pixels ("UYVY" or "YUYV"), rows by the layout pitch.
void PackedFloat(const Encoder& e, bool uyvy) {
  KvParallelRows(0, e.H, [&](int32_t r) {
    BYTE* out = e.yuv + int64_t(r) * e.layout.pitch;
    for (int32_t x = 0; x + 1 < e.W; x += 2) {
      float p0[3], p1[3], sum[3];
      e.Rgb(r, x, p0);
      e.Rgb(r, x + 1, p1);
      for (int i = 0; i < 3; ++i) sum[i] = p0[i] + p1[i];
      const float dc = kDither[r & 3][(x / 2) & 3];
      const int32_t y0 = Down(e.Luma(p0) * 219.0f + 16.0f + kDither[r & 3][x & 3], 1, 254);
      const int32_t y1 = Down(e.Luma(p1) * 219.0f + 16.0f + kDither[r & 3][(x + 1) & 3], 1, 254);
      const int32_t u = Down(Encoder::Dot(e.w->cb, sum) * 0.5f * 224.0f + 128.0f + dc, 1, 254);
      const int32_t v = Down(Encoder::Dot(e.w->cr, sum) * 0.5f * 224.0f + 128.0f + dc, 1, 254);
      BYTE* m = out + int64_t(x) * 2;
      const BYTE uyvyBytes[4] = {BYTE(u), BYTE(y0), BYTE(v), BYTE(y1)};
      const BYTE yuyvBytes[4] = {BYTE(y0), BYTE(u), BYTE(y1), BYTE(v)};
      std::memcpy(m, uyvy ? uyvyBytes : yuyvBytes, 4);
    }
  });
}

// The fixed-coefficient 8-bit "YUYV" encoder (2.14 weights, no dither), on
// processors with MMX: the row kernel (with its SSE2 twin).
void YuyvFixed(const Encoder& e, bool bt709) {
  const KvYuvRowKernels& kernels = KvYuvKernels();
  KvParallelRows(0, e.H, [&](int32_t r) {
    kernels.bgraToYuyvFixed(e.yuv + int64_t(r) * e.W * 2, e.dibBits + int64_t(e.H - 1 - r) * e.dibStride, e.W,
                            bt709);
  });
}

// The same encoder in floating point, for processors without MMX: chroma
// from the pair's blue and red sums less its two unrounded lumas.
void YuyvFloat(const Encoder& e, bool bt709) {
  const double kr = bt709 ? 0.2125 : 0.299, kg = bt709 ? 0.7154 : 0.587, kb = bt709 ? 0.0721 : 0.114;
  const double fu = bt709 ? 0.2697791445345261 : 0.2962753950338601;
  const double fv = bt709 ? 0.3173050041934582 : 0.37446504992867335;
  auto round = [](double v) { return BYTE(v <= 0.0 ? 0 : v >= 255.0 ? 255 : int32_t(std::floor(v + 0.5))); };
  KvParallelRows(0, e.H, [&](int32_t r) {
    const BYTE* row = e.dibBits + int64_t(e.H - 1 - r) * e.dibStride;
    BYTE* out = e.yuv + int64_t(r) * e.W * 2;
    for (int32_t x = 0; x + 1 < e.W; x += 2) {
      const BYTE* p0 = row + int64_t(x) * 4;
      const BYTE* p1 = p0 + 4;
      const double y0 = kr * p0[2] + kg * p0[1] + kb * p0[0];
      const double y1 = kr * p1[2] + kg * p1[1] + kb * p1[0];
      BYTE* m = out + int64_t(x) * 2;
      m[0] = round(y0);
      m[1] = round(128.0 + (p0[0] + p1[0] - y0 - y1) * fu);
      m[2] = round(y1);
      m[3] = round(128.0 + (p0[2] + p1[2] - y0 - y1) * fv);
    }
  });
}

inline void Insert(BYTE* word, int field, uint32_t value) {
  uint32_t w;
  std::memcpy(&w, word, 4);
  w = (w & ~(0x3FFu << (10 * field))) | ((value & 0x3FF) << (10 * field));
  std::memcpy(word, &w, 4);
}

void V210(const Encoder& e) {
  if (!e.isFloat) {
    // 8-bit pixels: the row kernel (with its SSE2 twin).
    const KvYuvRowKernels& kernels = KvYuvKernels();
    const KvI420Weights w = {{e.w->luma[0], e.w->luma[1], e.w->luma[2]},
                             {e.w->cb[0], e.w->cb[1], e.w->cb[2]},
                             {e.w->cr[0], e.w->cr[1], e.w->cr[2]},
                             kChromaScale};
    KvParallelRows(0, e.H, [&](int32_t r) {
      kernels.bgraToV210(e.yuv + int64_t(r) * e.layout.pitch, e.dibBits + int64_t(e.H - 1 - r) * e.dibStride, e.W, w,
                         kDither[r & 3]);
    });
    return;
  }
  // Word and field of each luma and chroma sample of a group.
  static const int yWord[6] = {0, 1, 1, 2, 3, 3}, yField[6] = {1, 0, 2, 1, 0, 2};
  static const int uWord[3] = {0, 1, 2}, uField[3] = {0, 1, 2}, vWord[3] = {0, 2, 3}, vField[3] = {2, 0, 1};
  KvParallelRows(0, e.H, [&](int32_t r) {
    BYTE* out = e.yuv + int64_t(r) * e.layout.pitch;
    for (int32_t g = 0; g * 6 < e.W; ++g) {
      BYTE* group = out + int64_t(g) * 16;
      // A partial last group starts from zero words.
      if (g * 6 + 6 > e.W) std::memset(group, 0, 16);
      for (int32_t c = 0; c < 6; c += 2) {
        const int32_t x = g * 6 + c;
        if (x >= e.W) break;
        float p0[3], p1[3], sum[3];
        e.Rgb(r, x, p0);
        e.Rgb(r, x + 1 < e.W ? x + 1 : x, p1);
        for (int i = 0; i < 3; ++i) sum[i] = p0[i] + p1[i];
        const float dc = kDither[r & 3][(x / 2) & 3];
        const int32_t y0 = Down(e.Luma(p0) * 876.0f + 64.0f + kDither[r & 3][x & 3], 1, 1019);
        const int32_t y1 = Down(e.Luma(p1) * 876.0f + 64.0f + kDither[r & 3][(x + 1) & 3], 1, 1019);
        const int32_t u = Down(Encoder::Dot(e.w->cb, sum) * 0.5f * 896.0f + 512.0f + dc, 1, 1019);
        const int32_t v = Down(Encoder::Dot(e.w->cr, sum) * 0.5f * 896.0f + 512.0f + dc, 1, 1019);
        Insert(group + 4 * yWord[c], yField[c], uint32_t(y0));
        Insert(group + 4 * yWord[c + 1], yField[c + 1], uint32_t(y1));
        Insert(group + 4 * uWord[c / 2], uField[c / 2], uint32_t(u));
        Insert(group + 4 * vWord[c / 2], vField[c / 2], uint32_t(v));
      }
    }
  });
}

void I420(const Encoder& e) {
  BYTE* yp = e.yuv;
  BYTE* up = e.yuv + e.layout.uOffset;
  BYTE* vp = e.yuv + e.layout.vOffset;
  const bool interlaced = e.fieldOrder == 1 || e.fieldOrder == 2;
  const int32_t pairs = e.H / 2;
  if (!e.isFloat) {
    // 8-bit pixels: the row kernels (with their SSE2 twins).
    const KvYuvRowKernels& kernels = KvYuvKernels();
    const KvI420Weights w = {{e.w->luma[0], e.w->luma[1], e.w->luma[2]},
                             {e.w->cb[0], e.w->cb[1], e.w->cb[2]},
                             {e.w->cr[0], e.w->cr[1], e.w->cr[2]},
                             0.25f * kChromaScale};
    auto dibRow = [&e](int32_t r) { return e.dibBits + int64_t(e.H - 1 - r) * e.dibStride; };
    KvParallelRows(0, e.H, [&](int32_t r) {
      kernels.bgraToLuma(yp + int64_t(r) * e.layout.pitch, dibRow(r), e.W, w, kDither[r & 3]);
    });
    KvParallelRows(0, pairs, [&](int32_t cr) {
      int32_t r0 = 2 * cr, r1 = 2 * cr + 1;
      if (interlaced && !((pairs & 1) && cr == pairs - 1)) {
        r0 = (cr / 2) * 4 + (cr & 1);
        r1 = r0 + 2;
      }
      kernels.bgraToChroma(up + int64_t(cr) * e.layout.uPitch, vp + int64_t(cr) * e.layout.vPitch, dibRow(r0),
                           dibRow(r1), e.W / 2, w, kDither[cr & 3]);
    });
    return;
  }
  // Luma.
  KvParallelRows(0, e.H, [&](int32_t r) {
    for (int32_t x = 0; x < e.W; ++x) {
      float c[3];
      e.Rgb(r, x, c);
      const float luma = e.isFloat ? e.Luma(c) * 219.0f + 16.0f : e.Luma(c);
      yp[int64_t(r) * e.layout.pitch + x] = BYTE(Down(luma + kDither[r & 3][x & 3], 1, 254));
    }
  });
  // Chroma: 2 x 2 blocks; interlaced rows pair within a field (rows 0 and 2
  // give chroma row 0, rows 1 and 3 chroma row 1 ...), a last lone pair
  // progressively.
  KvParallelRows(0, pairs, [&](int32_t cr) {
    int32_t r0 = 2 * cr, r1 = 2 * cr + 1;
    if (interlaced && !((pairs & 1) && cr == pairs - 1)) {
      r0 = (cr / 2) * 4 + (cr & 1);
      r1 = r0 + 2;
    }
    for (int32_t cc = 0; cc < e.W / 2; ++cc) {
      float sum[3] = {0, 0, 0};
      for (int32_t rr : {r0, r1})
        for (int k = 0; k < 2; ++k) {
          float c[3];
          e.Rgb(rr, 2 * cc + k, c);
          for (int i = 0; i < 3; ++i) sum[i] += c[i];
        }
      const float scale = e.isFloat ? 0.25f * 224.0f : 0.25f * kChromaScale;
      const float d = kDither[cr & 3][cc & 3];
      up[int64_t(cr) * e.layout.uPitch + cc] = BYTE(Down(Encoder::Dot(e.w->cb, sum) * scale + 128.0f + d, 1, 254));
      vp[int64_t(cr) * e.layout.vPitch + cc] = BYTE(Down(Encoder::Dot(e.w->cr, sum) * scale + 128.0f + d, 1, 254));
    }
  });
}

}  // namespace

HRESULT KVAPI KvYUV_RGBToYUV(const BITMAPINFOHEADER* yuvHeader, const void* videoExt, BYTE* yuvData,
                             const KvYUVPlaneLayout* layout, const BITMAPINFOHEADER* dibHeader, double gamma,
                             const BYTE* dibBits, int32_t dibStride, int32_t scaleShift, uint32_t) {
  if (!dibHeader || !yuvHeader || !yuvData) return E_POINTER;
  const DWORD fourcc = yuvHeader->biCompression;
  if (fourcc != KVBI_UYVY && fourcc != KVBI_YUYV && fourcc != KVBI_V210 && fourcc != KVBI_I420) return E_FAIL;
  // Only same-size encoders exist.
  if (scaleShift != 0) return E_FAIL;
  Encoder e{};
  e.yuvHeader = yuvHeader;
  e.yuv = yuvData;
  if (layout)
    e.layout = *layout;
  else
    KvYUVImageBytesAndOffsets(yuvHeader, &e.layout);
  e.dibBits = dibBits ? dibBits : KvDibGetBitsPtr(dibHeader);
  e.dibStride = dibStride ? dibStride : static_cast<int32_t>(KvDibGetStride(dibHeader));
  e.W = yuvHeader->biWidth;
  e.H = yuvHeader->biHeight < 0 ? -yuvHeader->biHeight : yuvHeader->biHeight;
  int32_t colorimetry = -1;
  double extGamma = 0.0;
  if (videoExt) {
    const BYTE* p = static_cast<const BYTE*>(videoExt);
    std::memcpy(&colorimetry, p + 4, 4);
    std::memcpy(&e.fieldOrder, p + 12, 4);
    std::memcpy(&extGamma, p + 32, 8);
  }
  const bool bt709 = colorimetry == 516 || (colorimetry != 515 && e.H >= 720);
  e.w = bt709 ? &kBT709 : &kBT601;
  e.isFloat = KvGetPixelType(dibHeader) == KVPT_RGBAF128;
  if (e.W <= 0 || e.H <= 0) return S_OK;
  if (!e.isFloat) {
    if (fourcc == KVBI_UYVY) {
      const int32_t sel = colorimetry == 515 ? 1 : colorimetry == 516 ? 2 : 0;
      return KvBgraToUyvyFrame(yuvData, e.dibBits + int64_t(e.H - 1) * e.dibStride, -e.dibStride, e.W, e.H, sel);
    }
    if (fourcc == KVBI_YUYV) {
      if (KvImageCpu_GetSupport(0xFFF) & KVCPU_MMX)
        YuyvFixed(e, bt709);
      else
        YuyvFloat(e, bt709);
      return S_OK;
    }
  } else {
    float ratio;
    if (KvYUVGammaRatio(gamma, extGamma, &ratio)) {
      e.curve.reset(new (std::nothrow) KvGammaCurve(ratio));
      if (!e.curve || !e.curve->BuildFloatTable(fourcc == KVBI_V210 ? 1024 : 256)) return E_OUTOFMEMORY;
    }
    if (fourcc == KVBI_UYVY || fourcc == KVBI_YUYV) {
      PackedFloat(e, fourcc == KVBI_UYVY);
      return S_OK;
    }
  }
  if (fourcc == KVBI_V210)
    V210(e);
  else
    I420(e);
  return S_OK;
}
