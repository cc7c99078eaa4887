// Bicubic scaling (Keys cubic, a = -0.5) of a rectangle of a 32-bit or
// 128-bit pixel buffer into a rectangle of another, with sub-pixel
// rectangles and area averaging on a reduced axis; the argument list and
// geometry are those of the bilinear scaler.
#pragma once

#include "kvsubpixel.h"

extern "C" {

// Rectangles in whole pixels (null: the whole buffer). Returns 0.
HRESULT KVAPI KvDibScale_BiCubic(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride, const RECT* dstRect,
                                 const BYTE* srcBits, const int32_t* srcSize, int32_t srcStride, const RECT* srcRect,
                                 int32_t bytesPerPixel, const void* reduceOption, int32_t noBlend);
// Rectangles in 18.14. Returns 0.
HRESULT KVAPI KvDibScale_BiCubicSubPixel(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride,
                                         const RECT* dstRect, const BYTE* srcBits, const int32_t* srcSize,
                                         int32_t srcStride, const RECT* srcRect, int32_t bytesPerPixel,
                                         const void* reduceOption, int32_t noBlend);

}  // extern "C"

// The four weights of phase i (0..4095) of the cubic, as floats and as
// 18.14 integers.
const float* KvBicubicWeightsF(int32_t phase);
const int32_t* KvBicubicWeights(int32_t phase);
