// Scaling of a rectangle of one bitmap into a rectangle of another, with
// rectangles in 18.14 fixed point (16384 = one pixel): the sub-pixel geometry
// record, bilinear interpolation where the image grows and area averaging
// where it shrinks, and coverage blending of partly covered edge pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kvbitmapinfo.h"

// The geometry of one scaling call. In the 32-bit build it is the published
// record of 36 32-bit words; natively the two bit pointers are wider.
struct KvSubpixelParam {
  uint32_t reserved0[4];
  BYTE* dstBits;          // first byte of the destination's first row
  int32_t dstStride;      // bytes from one row to the next, signed
  uint32_t reserved6;
  RECT dstClip;           // destination rectangle clipped to the bitmap
  RECT dstRect;           // destination rectangle as given
  uint32_t reserved15[3];
  const BYTE* srcBits;
  int32_t srcStride;
  uint32_t reserved20;
  RECT srcRead;           // source area that maps into the clipped destination
  RECT srcClip;           // source rectangle clipped to the bitmap
  int32_t endStepX;       // (read width - 1) / (clipped destination width - 1)
  int32_t endStepY;
  int32_t scaleStepX;     // clipped source width / destination width as given
  int32_t scaleStepY;
  uint32_t reserved33[3];
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(KvSubpixelParam) == 36 * 4, "36 words");
static_assert(offsetof(KvSubpixelParam, dstClip) == 7 * 4, "clipped destination at word 7");
static_assert(offsetof(KvSubpixelParam, srcRead) == 21 * 4, "read area at word 21");
static_assert(offsetof(KvSubpixelParam, endStepX) == 29 * 4, "steps at word 29");
#endif

// Unscaled geometry (both steps one pixel): copies the rows of the clipped
// rectangles, never outside either bitmap, and returns true; false when the
// geometry scales.
bool KvSubpixelCopyUnscaled(const KvSubpixelParam& p, int32_t bytesPerPixel);

extern "C" {

// 1 when the record was filled, 0 when the geometry is empty. Sizes are two
// words (width, height) in whole pixels; rectangles 18.14 or null (whole).
int32_t KVAPI KvPrepareSubpixelParam(KvSubpixelParam* record, BYTE* dstBits, const int32_t* dstSize,
                                     int32_t dstStride, const RECT* dstRect, const BYTE* srcBits,
                                     const int32_t* srcSize, int32_t srcStride, const RECT* srcRect);
// bytesPerPixel 16: four floats a pixel; anything else: four bytes. A null
// reduceOption makes reductions interpolate instead of averaging; noBlend
// stores edge pixels instead of blending them by coverage. Returns 0.
HRESULT KVAPI KvDibScale_BilinearSubPixel(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride,
                                          const RECT* dstRect, const BYTE* srcBits, const int32_t* srcSize,
                                          int32_t srcStride, const RECT* srcRect, int32_t bytesPerPixel,
                                          const void* reduceOption, int32_t noBlend);
// The same with rectangles in whole pixels; unscaled rectangles are copied.
HRESULT KVAPI KvDibScale_Bilinear(BYTE* dstBits, const int32_t* dstSize, int32_t dstStride, const RECT* dstRect,
                                  const BYTE* srcBits, const int32_t* srcSize, int32_t srcStride,
                                  const RECT* srcRect, int32_t bytesPerPixel, const void* reduceOption,
                                  int32_t noBlend);

}  // extern "C"

// Fixed-point helpers: a * 16384 / b truncated toward zero (0 for b = 0),
// and (a * b) >> 14 rounded toward minus infinity.
int32_t KvFixedDiv(int32_t a, int32_t b);
int32_t KvFixedMul(int32_t a, int32_t b);
