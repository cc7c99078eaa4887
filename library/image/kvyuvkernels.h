// Row kernels of the 8-bit YUV converters. Each has a plain form and an SSE2
// twin that gives the same bytes; the converters take them from a table
// chosen once by the processor's features.
#pragma once

#include "kvbitmapinfo.h"
#include "kvyuv420.h"

// Fixed-point forms of one standard's coefficients for the packed converters.
struct KvUyvyFixed {
  int32_t vr, vg, ug, ub;  // x 4096
  int32_t kr, kg, kb;      // x 4096
  int32_t ur, ug2, ub2;    // Cb row x 2048 (two pixels are summed)
  int32_t vr2, vg2, vb2;   // Cr row x 2048
};

// The weights of the 8-bit "I420" encoder: luma Kr, Kg, Kb; the Cb and Cr
// rows on R, G, B; the chroma scale of a 2 x 2 block sum.
struct KvI420Weights {
  float luma[3];
  float cb[3];
  float cr[3];
  float chromaScale;
};

// The coefficients of the packed converters for a selector (1 BT.601, 2
// BT.709, otherwise by height).
const KvUyvyFixed& KvUyvyCoefficients(int32_t selector, int32_t height);

struct KvYuvRowKernels {
  // One contiguous UYVY row of width pixels (even) to BGRA, alpha 255.
  void (*uyvyToBgra)(BYTE* dst, const BYTE* src, int32_t width, const KvUyvyFixed& k);
  // One BGRA row of width pixels (even) to UYVY, every value within 1..254.
  void (*bgraToUyvy)(BYTE* dst, const BYTE* src, int32_t width, const KvUyvyFixed& k);
  // The same two with 24-bit BGR pixels.
  void (*uyvyToBgr)(BYTE* dst, const BYTE* src, int32_t width, const KvUyvyFixed& k);
  void (*bgrToUyvy)(BYTE* dst, const BYTE* src, int32_t width, const KvUyvyFixed& k);
  // One packed 4:2:2 row ("UYVY" when uyvy, else "YUYV") of width pixels
  // (even) to BGRA in single-precision floats: with k the studio-range
  // coefficients (V to R, U to G, V to G, U to B), B = Y + k[3](U - 128),
  // G = Y + k[1](U - 128) + k[2](V - 128), R = Y + k[0](V - 128), each
  // clamped to 0..255 and rounded half up; alpha 255.
  void (*packedToBgra)(BYTE* dst, const BYTE* src, int32_t width, bool uyvy, const float k[4]);
  // One v210 row of width pixels to BGRA in single-precision floats: with k
  // the 10-bit studio-range coefficients (as packedToBgra's), B = Y / 4 +
  // k[3](U - 512), G = Y / 4 + k[1](U - 512) + k[2](V - 512), R = Y / 4 +
  // k[0](V - 512), each clamped to 0..255 and rounded half up; alpha 255.
  // Every group of six pixels that the row touches is read whole.
  void (*v210ToBgra)(BYTE* dst, const BYTE* src, int32_t width, const float k[4]);
  // The point-sampled reductions of 8-bit sources: output pixel x takes
  // luma y[x * yStep] and chroma u[x * cStep], v[x * cStep], with the
  // arithmetic of packedToBgra; width pixels of BGRA, alpha 255.
  void (*sampledToBgra)(BYTE* dst, const BYTE* y, const BYTE* u, const BYTE* v, int32_t width, int32_t yStep,
                        int32_t cStep, const float k[4]);
  // The fixed-coefficient "YUYV" encoder (2.14 weights, no dither): one BGRA
  // row of width pixels (even) to YUYV, BT.709 weights or BT.601.
  void (*bgraToYuyvFixed)(BYTE* dst, const BYTE* src, int32_t width, bool bt709);
  // One row of planar 4:2:0 or 4:2:2 at full size to BGRA: the luma row and
  // the chroma rows it uses, width pixels (even).
  void (*planarFull)(BYTE* dst, const BYTE* y, const BYTE* u, const BYTE* v, int32_t width, const KvYUVMatrixQ14& m);
  // One row of planar 4:2:0 reduced to half width: outWidth pixels from
  // luma pairs of y0 and chroma of u0 / v0 (blend: the sums of two luma rows
  // y0, y1 and of two chroma rows, as the half blend does).
  void (*planarHalf)(BYTE* dst, const BYTE* y0, const BYTE* y1, const BYTE* u0, const BYTE* u1, const BYTE* v0,
                     const BYTE* v1, int32_t outWidth, bool blend, const KvYUVMatrixQ14& m);
  // One row of planar 4:2:0 reduced to quarter width: outWidth pixels, each
  // from four columns of lumaRows (2 or 4) luma rows y[0..] and two columns
  // of the two chroma rows u0 + u1 and v0 + v1 (the quarter-width half-height
  // blend with 2 luma rows, the quarter blend with 4).
  void (*planarQuarter)(BYTE* dst, const BYTE* const* y, int lumaRows, const BYTE* u0, const BYTE* u1,
                        const BYTE* v0, const BYTE* v1, int32_t outWidth, const KvYUVMatrixQ14& m);
  // The 8-bit "I420" encoder's rows (ordered dither, values 1..254): luma of
  // one BGRA row, and the chroma of the 2 x 2 blocks of two BGRA rows.
  void (*bgraToLuma)(BYTE* dst, const BYTE* bgra, int32_t width, const KvI420Weights& w, const float dither[4]);
  void (*bgraToChroma)(BYTE* u, BYTE* v, const BYTE* bgra0, const BYTE* bgra1, int32_t chromaWidth,
                       const KvI420Weights& w, const float dither[4]);
  // The 8-bit "v210" encoder's row: width BGRA pixels to groups of six
  // (16 bytes each). Pixel x gives luma Down(luma * 4 + dither[x & 3]); a
  // pixel pair (x even; a last lone pixel pairs with itself) sums its R, G, B
  // and gives chroma Down(cb . sum * 2 * chromaScale + 512 + dither[(x / 2)
  // & 3]) and the same with cr, Down clamping to 1..1019 and rounding down.
  // Whole groups keep bits 30-31 of their words; a partial last group is
  // zeroed first, its unused fields left 0.
  void (*bgraToV210)(BYTE* dst, const BYTE* bgra, int32_t width, const KvI420Weights& w, const float dither[4]);
};

const KvYuvRowKernels& KvYuvKernelsPlain();
// The SSE2 twins (the plain kernels where the build has no SSE2).
const KvYuvRowKernels& KvYuvKernelsSse2();
// The table for a processor feature word: the SSE2 twins when it holds SSE2.
const KvYuvRowKernels& KvYuvKernelsFor(DWORD cpuFeatures);
// The table chosen on first use from KvImageCpu_GetSupport(KVCPU_SSE2).
const KvYuvRowKernels& KvYuvKernels();
