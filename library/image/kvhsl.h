// Per-pixel colour arithmetic for colour-correction and broadcast-safe
// filters: RGB pixels to and from hue, saturation and lightness, and the
// checks whether a colour exceeds the composite-signal limit of NTSC (YIQ or
// YUV) or PAL (YUV), with forms that pull an offending colour back inside.
#pragma once

#include "kvbitmapinfo.h"

// 8-bit pixel: blue, green, red, alpha.
struct KVRGBA {
  BYTE b, g, r, a;
};
// Float pixel: blue, green, red, alpha; 1.0 is full intensity.
struct KVRGBAFLOAT {
  float b, g, r, a;
};
typedef KVRGBAFLOAT KVDIBPIXEL;
// Hue in turns (one sixth per primary sextant), saturation, lightness, alpha.
struct KVHSL {
  double h, s, l, a;
};

static_assert(sizeof(KVRGBA) == 4, "KVRGBA is 4 bytes");
static_assert(sizeof(KVRGBAFLOAT) == 16, "KVRGBAFLOAT is 16 bytes");
static_assert(sizeof(KVHSL) == 32, "KVHSL is 32 bytes");

extern "C" {

void KVAPI KVRGBA_To_KVHSL(KVHSL* out, const KVRGBA* in);
void KVAPI KVRGBAFLOAT_To_KVHSL(KVHSL* out, const KVRGBAFLOAT* in);
void KVAPI KVDIBPIXEL_To_KVHSL(KVHSL* out, const KVDIBPIXEL* in);
// For values outside 0..1; near-degenerate sums are nudged away from 0 and 2.
void KVAPI KVDIBPIXEL_To_KVHSL_Float(KVHSL* out, const KVDIBPIXEL* in);
void KVAPI KVHSL_To_KVRGBA(KVRGBA* out, const KVHSL* in);
void KVAPI KVHSL_To_KVRGBAFLOAT(KVRGBAFLOAT* out, const KVHSL* in);
void KVAPI KVHSL_To_KVDIBPIXEL(KVDIBPIXEL* out, const KVHSL* in);
// Negates the saturation of the caller's record in place when the lightness
// lies outside 0..1.
void KVAPI KVHSL_To_KVDIBPIXEL_Float(KVDIBPIXEL* out, KVHSL* in);

// 1 when the (linear-light) colour is illegal, 0 when legal.
BOOL KVAPI HotCheckNTSCYIQ(const KVRGBAFLOAT* pixel);
BOOL KVAPI HotCheckNTSCYUV(const KVRGBAFLOAT* pixel);
BOOL KVAPI HotCheckPALYUV(const KVRGBAFLOAT* pixel);
// 0 and the pixel untouched when legal; 1 after replacing its colour channels
// with a legal colour.
BOOL KVAPI HotCheckNTSCYIQReturn(KVRGBAFLOAT* pixel);
BOOL KVAPI HotCheckNTSCYUVReturn(KVRGBAFLOAT* pixel);
BOOL KVAPI HotCheckPALYUVReturn(KVRGBAFLOAT* pixel);

}  // extern "C"
