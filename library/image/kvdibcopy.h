// The library's general blit: a rectangle of one packed DIB into a rectangle
// of another, converting between any two RGB-family pixel types and scaling
// when the rectangles differ, with whole-pixel or 18.14 rectangles; and the
// interlace copy that keeps one field and rebuilds the other.
#pragma once

#include "kvbitmapinfo.h"

// Flags of KvDibCopy (besides the exchange preset in bits 0-3).
#define KVDIBCOPY_EDGE_LASTROW 0x00001000u   // last memory row (top of a bottom-up image)
#define KVDIBCOPY_EDGE_FIRSTROW 0x00002000u  // first memory row
#define KVDIBCOPY_EDGE_FIRSTCOL 0x00004000u
#define KVDIBCOPY_EDGE_LASTCOL 0x00008000u
#define KVDIBCOPY_EDGES 0x0000F000u
#define KVDIBCOPY_MARGIN_SHIFT 16            // bits 16-23: edge margin in pixels
#define KVDIBCOPY_FIXEDRECT 0x01000000u      // rectangles in 18.14
#define KVDIBCOPY_AVERAGE 0x02000000u        // area averaging on reduced axes
#define KVDIBCOPY_BICUBIC 0x04000000u
#define KVDIBCOPY_NOBLEND 0x08000000u

extern "C" {

HRESULT KVAPI KvDibCopy(BITMAPINFOHEADER* dst, BYTE* dstBits, const RECT* dstRect, int32_t dstStride,
                        const BITMAPINFOHEADER* src, const BYTE* srcBits, const RECT* srcRect, int32_t srcStride,
                        uint32_t flags, double gammaA, double gammaB);
// Clips both rectangles against their bitmaps, each cut trimming the partner
// proportionally; trimmed (optional) receives the cuts of the source's sides.
HRESULT KVAPI KvDibPrepareRects(const BITMAPINFOHEADER* dst, RECT* dstOut, const RECT* dstRect,
                                const BITMAPINFOHEADER* src, RECT* srcOut, const RECT* srcRect, RECT* trimmed);
HRESULT KVAPI KvDibCopyInterlace(BITMAPINFOHEADER* dst, BYTE* dstBits, const RECT* dstRect, int32_t dstStride,
                                 const BITMAPINFOHEADER* src, const BYTE* srcBits, const RECT* srcRect,
                                 int32_t srcStride, uint32_t field, uint32_t flags);

}  // extern "C"
