// YUV frames to 8-bit and float BGRA bitmaps: the dispatch over layouts and
// reductions, and the row kernels of the packed, v210 and planar layouts.
#include "kvyuvframe.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "kvgammacurve.h"
#include "kvparallel.h"
#include "kvyuv420.h"
#include "kvyuvkernels.h"
#include "kvyuvpacked.h"

namespace {

constexpr float Div(float a, float b) { return a / b; }

#define KV_STUDIO(a, b, c, d)                                                                          \
  {                                                                                                    \
    {a, b, c, d}, {Div(a, 219), Div(b, 219), Div(c, 219), Div(d, 219)}, {a / 4, b / 4, c / 4, d / 4}, \
        {Div(a, 876), Div(b, 876), Div(c, 876), Div(d, 876)}                                           \
  }
const KvYUVMatrixFloat kBT601 = KV_STUDIO(1.37070537f, -0.336419195f, -0.698160291f, 1.73244643f);
const KvYUVMatrixFloat kBT709 = KV_STUDIO(1.53964829f, -0.183119193f, -0.457651377f, 1.81418037f);

enum { kVR, kUG, kVG, kUB };

// The fields of the video extension that the conversions read.
struct Extension {
  int32_t colorimetry = -1;
  int32_t fieldOrder = 0;
  double gamma = 0.0;
  Extension() = default;
  explicit Extension(const void* ext) {
    if (!ext) return;
    const BYTE* p = static_cast<const BYTE*>(ext);
    std::memcpy(&colorimetry, p + 4, 4);
    std::memcpy(&fieldOrder, p + 12, 4);
    std::memcpy(&gamma, p + 32, 8);
  }
  bool Interlaced() const { return fieldOrder == 1 || fieldOrder == 2; }
};

inline BYTE Round8(float v) {
  // Clamped, then rounded to nearest with halves up.
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<BYTE>(std::floor(v + 0.5f));
}

// One frame conversion: source, destination and rules.
struct Job {
  const BITMAPINFOHEADER* dib;
  BYTE* bits;
  int32_t stride;
  int32_t W, H, s;  // source size and shift
  int32_t outW, outH;
  const BYTE* yuv;
  KvYUVPlaneLayout layout;
  Extension ext;
  const KvYUVMatrixFloat* m;
  bool isFloat;
  std::unique_ptr<KvGammaCurve> curve;
  BYTE* OutRow(int32_t r) const { return bits + int64_t(outH - 1 - r) * stride; }
  const BYTE* SrcRow(int32_t row) const { return yuv + int64_t(row) * layout.pitch; }

  // One pixel from luma and chroma: 8-bit sources (bias 128) or 10-bit.
  void Pixel(BYTE* out, int32_t x, float y, float u, float v, bool tenBit) const {
    if (!isFloat) {
      const float* k = tenBit ? m->studio10 : m->studio8;
      const float yy = tenBit ? y * 0.25f : y;
      const float uu = u - (tenBit ? 512.0f : 128.0f), vv = v - (tenBit ? 512.0f : 128.0f);
      BYTE* p = out + int64_t(x) * 4;
      p[0] = Round8(yy + k[kUB] * uu);
      p[1] = Round8(yy + k[kUG] * uu + k[kVG] * vv);
      p[2] = Round8(yy + k[kVR] * vv);
      p[3] = 255;
      return;
    }
    const float* k = tenBit ? m->studio10Norm : m->studio8Norm;
    const float yy = tenBit ? (y - 64.0f) * 0.0011415524641051888f : (y - 16.0f) * 0.004566209856420755f;
    const float uu = u - (tenBit ? 512.0f : 128.0f), vv = v - (tenBit ? 512.0f : 128.0f);
    float f[4] = {yy + k[kUB] * uu, yy + k[kUG] * uu + k[kVG] * vv, yy + k[kVR] * vv, 1.0f};
    if (curve)
      for (int i = 0; i < 3; ++i) f[i] = curve->Lookup(f[i]);
    std::memcpy(out + int64_t(x) * 16, f, 16);
  }
};

// Packed 4:2:2: byte offsets of Y0, U, Y1, V in a macropixel.
void Packed(const Job& j, bool uyvy) {
  const int oY0 = uyvy ? 1 : 0, oU = uyvy ? 0 : 1, oY1 = uyvy ? 3 : 2, oV = uyvy ? 2 : 3;
  const KvYuvRowKernels& kernels = KvYuvKernels();
  KvParallelRows(0, j.outH, [&](int32_t r) {
    const BYTE* src = j.SrcRow(r << j.s);
    BYTE* out = j.OutRow(r);
    if (j.s == 0 && !j.isFloat) {
      kernels.packedToBgra(out, src, j.outW, uyvy, j.m->studio8);
    } else if (j.s == 0) {
      for (int32_t x = 0; x + 1 < j.outW; x += 2) {
        const BYTE* mp = src + int64_t(x) * 2;
        j.Pixel(out, x, mp[oY0], mp[oU], mp[oV], false);
        j.Pixel(out, x + 1, mp[oY1], mp[oU], mp[oV], false);
      }
    } else if (!j.isFloat) {
      // Point sampling: the first luma of the macropixel at column x << s,
      // one macropixel of 4 bytes every 2^(s - 1).
      const int32_t step = 2 << j.s;
      kernels.sampledToBgra(out, src + oY0, src + oU, src + oV, j.outW, step, step, j.m->studio8);
    } else {
      for (int32_t x = 0; x < j.outW; ++x) {
        const BYTE* mp = src + int64_t((x << j.s) / 2) * 4;
        j.Pixel(out, x, mp[oY0], mp[oU], mp[oV], false);
      }
    }
  });
}

inline uint32_t Word(const BYTE* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
inline uint32_t Field(uint32_t w, int i) { return (w >> (10 * i)) & 0x3FF; }

// v210 sample c (0..5) of a group: luma and its pair's chroma.
void V210Sample(const BYTE* group, int c, uint32_t* y, uint32_t* u, uint32_t* v) {
  const uint32_t w0 = Word(group), w1 = Word(group + 4), w2 = Word(group + 8), w3 = Word(group + 12);
  const uint32_t ys[6] = {Field(w0, 1), Field(w1, 0), Field(w1, 2), Field(w2, 1), Field(w3, 0), Field(w3, 2)};
  const uint32_t us[3] = {Field(w0, 0), Field(w1, 1), Field(w2, 2)};
  const uint32_t vs[3] = {Field(w0, 2), Field(w2, 0), Field(w3, 1)};
  *y = ys[c];
  *u = us[c / 2];
  *v = vs[c / 2];
}

void V210(const Job& j) {
  const KvYuvRowKernels& kernels = KvYuvKernels();
  KvParallelRows(0, j.outH, [&](int32_t r) {
    const BYTE* src = j.SrcRow(r << j.s);
    BYTE* out = j.OutRow(r);
    if (j.s == 0 && !j.isFloat) {
      kernels.v210ToBgra(out, src, j.outW, j.m->studio10);
      return;
    }
    for (int32_t x = 0; x < j.outW; ++x) {
      int32_t col = x << j.s;
      // Reduced: the first luma sample of the column's chroma pair.
      if (j.s) col &= ~1;
      uint32_t y, u, v;
      V210Sample(src + int64_t(col / 6) * 16, col % 6, &y, &u, &v);
      j.Pixel(out, x, float(y), float(u), float(v), true);
    }
  });
}

struct Planar {
  const BYTE *y, *u, *v;
  int32_t yPitch, uPitch, vPitch;
};

Planar PlanesOf(const Job& j) {
  return {j.yuv, j.yuv + j.layout.uOffset, j.yuv + j.layout.vOffset, int32_t(j.layout.pitch),
          int32_t(j.layout.uPitch), int32_t(j.layout.vPitch)};
}

// I420 by point sampling (8-bit eighth size, float reductions).
void I420Sampled(const Job& j) {
  const Planar p = PlanesOf(j);
  const int32_t mask = j.ext.Interlaced() ? ~1 : ~0;
  const KvYuvRowKernels& kernels = KvYuvKernels();
  KvParallelRows(0, j.outH, [&](int32_t r) {
    const int32_t cr = (r << (j.s - 1)) & mask;
    const BYTE* yr = p.y + int64_t(r << j.s) * p.yPitch;
    const BYTE* ur = p.u + int64_t(cr) * p.uPitch;
    const BYTE* vr = p.v + int64_t(cr) * p.vPitch;
    BYTE* out = j.OutRow(r);
    if (!j.isFloat) {
      kernels.sampledToBgra(out, yr, ur, vr, j.outW, 1 << j.s, 1 << (j.s - 1), j.m->studio8);
      return;
    }
    for (int32_t x = 0; x < j.outW; ++x)
      j.Pixel(out, x, yr[x << j.s], ur[x << (j.s - 1)], vr[x << (j.s - 1)], false);
  });
}

// Float I420 at full size: 2 x 2 blocks sharing chroma, interlaced rows
// paired within fields (a last lone pair progressive).
void I420FloatFull(const Job& j) {
  const Planar p = PlanesOf(j);
  const int32_t pairs = j.H / 2;
  KvParallelRows(0, j.outH, [&](int32_t row) {
    int32_t cr = row / 2;
    if (j.ext.Interlaced() && !((pairs & 1) && row >= j.H - 2)) cr = (row / 4) * 2 + (row & 1);
    const BYTE* yr = p.y + int64_t(row) * p.yPitch;
    const BYTE* ur = p.u + int64_t(cr) * p.uPitch;
    const BYTE* vr = p.v + int64_t(cr) * p.vPitch;
    BYTE* out = j.OutRow(row);
    for (int32_t x = 0; x < j.outW; ++x) j.Pixel(out, x, yr[x], ur[x / 2], vr[x / 2], false);
  });
}

HRESULT I420Eight(const Job& j, int32_t colorimetry) {
  if (j.s == 3) {
    I420Sampled(j);
    return S_OK;
  }
  const Planar p = PlanesOf(j);
  return KvYUV420ToRGBAFrame(j.s, j.W, j.H, j.OutRow(0), -j.stride, p.y, p.yPitch, p.u, p.uPitch, p.v, p.vPitch,
                             j.ext.fieldOrder, colorimetry);
}

}  // namespace

const KvYUVMatrixFloat& KvYUVChooseMatrixFloat(int32_t colorimetry, int32_t height) {
  if (colorimetry == 515) return kBT601;
  if (colorimetry == 516) return kBT709;
  return height >= 720 ? kBT709 : kBT601;
}

bool KvYUVGammaRatio(double a, double b, float* ratio) {
  auto fix = [](double g) {
    if (g == 0.0) g = 2.2222222222222223;
    return g < 0.5 ? 0.5 : g > 4.0 ? 4.0 : g;
  };
  const double r = fix(a) / fix(b);
  *ratio = static_cast<float>(r);
  // A NaN gamma gives no curve.
  return r < 0.999 || r > 1.001;
}

HRESULT KVAPI KvYUV_YUVToRGB(const BITMAPINFOHEADER* dibHeader, double gamma, BYTE* dibBits, int32_t dibStride,
                             const BITMAPINFOHEADER* yuvHeader, const void* videoExt, const BYTE* yuvData,
                             const KvYUVPlaneLayout* layout, int32_t scaleShift, uint32_t) {
  if (!dibHeader || !yuvHeader || !yuvData) return E_POINTER;
  const DWORD fourcc = yuvHeader->biCompression;
  if (fourcc != KVBI_UYVY && fourcc != KVBI_YUYV && fourcc != KVBI_V210 && fourcc != KVBI_I420) return E_FAIL;
  // The tables have four reductions: another shift would index past them.
  if (scaleShift < 0 || scaleShift > 3) return E_FAIL;
  Job j{};
  j.dib = dibHeader;
  j.bits = dibBits ? dibBits : const_cast<BYTE*>(KvDibGetBitsPtr(dibHeader));
  j.stride = dibStride ? dibStride : static_cast<int32_t>(KvDibGetStride(dibHeader));
  j.W = yuvHeader->biWidth;
  j.H = yuvHeader->biHeight < 0 ? -yuvHeader->biHeight : yuvHeader->biHeight;
  j.s = scaleShift;
  j.outW = j.W >> j.s;
  j.outH = j.H >> j.s;
  j.yuv = yuvData;
  if (layout)
    j.layout = *layout;
  else
    KvYUVImageBytesAndOffsets(yuvHeader, &j.layout);
  j.ext = Extension(videoExt);
  j.isFloat = KvGetPixelType(dibHeader) == KVPT_RGBAF128;
  const int32_t dibHeight = dibHeader->biHeight < 0 ? -dibHeader->biHeight : dibHeader->biHeight;
  j.m = &KvYUVChooseMatrixFloat(j.ext.colorimetry, dibHeight);
  if (j.W <= 0 || j.H <= 0) return S_OK;

  if (j.isFloat) {
    float ratio;
    if (KvYUVGammaRatio(j.ext.gamma, gamma, &ratio)) {
      j.curve.reset(new (std::nothrow) KvGammaCurve(ratio));
      // A curve without its table would be evaluated exactly; without memory
      // for either the conversion is refused.
      if (!j.curve || !j.curve->BuildFloatTable(fourcc == KVBI_V210 ? 1024 : 256)) return E_OUTOFMEMORY;
    }
  } else if (fourcc == KVBI_UYVY && j.s == 0) {
    const int32_t sel = j.ext.colorimetry == 515 ? 1 : j.ext.colorimetry == 516 ? 2 : 0;
    return KvUyvyToBgraFrame(j.OutRow(0), yuvData, -j.stride, j.W, j.H, sel);
  } else if (fourcc == KVBI_I420) {
    return I420Eight(j, j.ext.colorimetry);
  }
  if (fourcc == KVBI_UYVY || fourcc == KVBI_YUYV)
    Packed(j, fourcc == KVBI_UYVY);
  else if (fourcc == KVBI_V210)
    V210(j);
  else if (j.s == 0)
    I420FloatFull(j);
  else
    I420Sampled(j);
  return S_OK;
}
