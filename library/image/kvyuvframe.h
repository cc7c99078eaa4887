// Whole-frame conversion between a 32-bit (8-bit or float BGRA) bitmap and a
// YUV frame in the "UYVY", "YUYV", "v210" or "I420" layout, with the matrix
// choice, the gamma decision and reductions by 2, 4 or 8 towards RGB.
#pragma once

#include "kvpixeltype.h"

// Float rows of a colour-matrix record: V->R, U->G, V->G, U->B.
struct KvYUVMatrixFloat {
  float studio8[4];       // full-range inverse x 219/224
  float studio8Norm[4];   // studio8 / 219
  float studio10[4];      // studio8 / 4
  float studio10Norm[4];  // studio8 / 876
};
const KvYUVMatrixFloat& KvYUVChooseMatrixFloat(int32_t colorimetry, int32_t height);

// The gamma ratio of a float conversion (source a, target b; 0 = not stated
// = 2.2222; each held within 0.5..4.0); false when no curve is needed.
bool KvYUVGammaRatio(double a, double b, float* ratio);

extern "C" {

// scaleShift 0..3: the bitmap is the frame reduced by 2^scaleShift.
HRESULT KVAPI KvYUV_YUVToRGB(const BITMAPINFOHEADER* dibHeader, double gamma, BYTE* dibBits, int32_t dibStride,
                             const BITMAPINFOHEADER* yuvHeader, const void* videoExt, const BYTE* yuvData,
                             const KvYUVPlaneLayout* layout, int32_t scaleShift, uint32_t reserved);

// The bitmap (same size) encoded into the YUV frame; scaleShift must be 0.
HRESULT KVAPI KvYUV_RGBToYUV(const BITMAPINFOHEADER* yuvHeader, const void* videoExt, BYTE* yuvData,
                             const KvYUVPlaneLayout* layout, const BITMAPINFOHEADER* dibHeader, double gamma,
                             const BYTE* dibBits, int32_t dibStride, int32_t scaleShift, uint32_t reserved);

}  // extern "C"
