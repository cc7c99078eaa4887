// Packed 8-bit 4:2:2 ("UYVY") to and from 8-bit BGRA or BGR, and v210
// (10-bit 4:2:2) to UYVY. The RGB side is studio-range RGB (the inverse of
// the UYVY-to-RGB direction); arithmetic is 4.12 fixed point.
#pragma once

#include "kvbitmapinfo.h"

// The packed converters' coefficients (13 doubles per standard): Kr, Kg, Kb;
// the Cb row and the Cr row (R, G, B) x 224/219; V->R, V->G, U->G, U->B
// x 219/224.
extern const double KvYUVCoeffs_BT601[13];
extern const double KvYUVCoeffs_BT709[13];

extern "C" {

// selector: 1 BT.601, 2 BT.709, otherwise BT.709 from a height of 720 on.
// The UYVY side is contiguous (width x 2 bytes a row); the RGB side advances
// by its signed pitch.
HRESULT KVAPI KvUYVY2RGBA(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t width, int32_t height,
                          int32_t selector);
HRESULT KVAPI KvRGBA2UYVY(BYTE* dst, const BYTE* src, int32_t srcPitch, int32_t width, int32_t height,
                          int32_t selector);
HRESULT KVAPI KvUYVY2RGB(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t width, int32_t height,
                         int32_t selector);
HRESULT KVAPI KvRGB2UYVY(BYTE* dst, const BYTE* src, int32_t srcPitch, int32_t width, int32_t height,
                         int32_t selector);
// Keeps the top 8 bits of each 10-bit sample.
HRESULT KVAPI KvYUV_v210_TO_UYVY(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t srcPitch, int32_t width,
                                 int32_t height);

}  // extern "C"

// The frame converters' forms of KvUYVY2RGBA and KvRGBA2UYVY: the same
// bytes, the rows divided among the threads.
HRESULT KvUyvyToBgraFrame(BYTE* dst, const BYTE* src, int32_t dstPitch, int32_t width, int32_t height,
                          int32_t selector);
HRESULT KvBgraToUyvyFrame(BYTE* dst, const BYTE* src, int32_t srcPitch, int32_t width, int32_t height,
                          int32_t selector);
