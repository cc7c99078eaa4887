// Operations on one packed DIB: allocation, fills, single pixels, row flips,
// red/blue swaps, fades toward a colour and field merges. Pixel access goes
// through the pixel-format exchange, so every RGB-family code is served.
#pragma once

#include "kvbitmapinfo.h"

// Flag bit of the operations: the rectangle is in 18.14 fixed point.
#define KVDIB_FIXEDRECT 0x01000000u
// KvDibAlloc: zero-fill the block; KvDibAlloc/KvDibFree: tolerate bad blocks.
#define KVDIB_ZEROINIT 0x00000001u
#define KVDIB_SAFE 0x80000000u

extern "C" {

HRESULT KVAPI KvDibAlloc(BITMAPINFOHEADER** dib, int32_t code, int32_t width, int32_t height, const RGBQUAD* palette,
                         int32_t colours, uint32_t flags);
HRESULT KVAPI KvDibFree(BITMAPINFOHEADER* dib, uint32_t flags);
HRESULT KVAPI KvDibInfo(DWORD* headerBytes, DWORD* imageSize, BITMAPINFOHEADER* header, int32_t code, int32_t width,
                        int32_t height, const RGBQUAD* palette, int32_t colours);
HRESULT KVAPI KvDibSet(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride, float red, float green,
                       float blue, float alpha, uint32_t flags);
// colour in the channel order of a 32-bit pixel: blue, green, red, alpha.
HRESULT KVAPI KvDibFillRect(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride, const float* colour,
                            uint32_t flags);
HRESULT KVAPI KvDibFillRectChannel(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride,
                                   uint32_t channel, float value, uint32_t flags);
// Pixels as four 16-bit channels blue, green, red, alpha (blue lowest).
HRESULT KVAPI KvDibGetPixel(const BITMAPINFOHEADER* dib, const BYTE* bits, int32_t stride, int32_t x, int32_t y,
                            uint64_t* pixel);
HRESULT KVAPI KvDibSetPixel(BITMAPINFOHEADER* dib, BYTE* bits, int32_t stride, int32_t x, int32_t y,
                            const uint64_t* pixel);
HRESULT KVAPI KvDibFlip(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride, uint32_t unused,
                        uint32_t vertical);
HRESULT KVAPI KvDibSwapRB(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride);
HRESULT KVAPI KvDibFadeToColor(BITMAPINFOHEADER* dib, BYTE* bits, const RECT* rect, int32_t stride,
                               const float* colour, float amount, uint32_t keepAlpha, uint32_t flags);
HRESULT KVAPI KvDibMergeFields(BITMAPINFOHEADER* dst, BYTE* dstBits, int32_t dstStride, const BITMAPINFOHEADER* src,
                               const BYTE* srcBits, int32_t srcStride, int32_t field, uint32_t unused);
HRESULT KVAPI KvDibMergeFieldsRotated(BITMAPINFOHEADER* dst, BYTE* dstBits, int32_t dstStride,
                                      const BITMAPINFOHEADER* src, const BYTE* srcBits, int32_t srcStride,
                                      int32_t field, uint32_t unused);

}  // extern "C"
