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

// The coefficients of the packed converters for a selector (1 BT.601, 2
// BT.709, otherwise by height).
const KvUyvyFixed& KvUyvyCoefficients(int32_t selector, int32_t height);

struct KvYuvRowKernels {
  // One contiguous UYVY row of width pixels (even) to BGRA, alpha 255.
  void (*uyvyToBgra)(BYTE* dst, const BYTE* src, int32_t width, const KvUyvyFixed& k);
  // One BGRA row of width pixels (even) to UYVY, every value within 1..254.
  void (*bgraToUyvy)(BYTE* dst, const BYTE* src, int32_t width, const KvUyvyFixed& k);
  // One row of planar 4:2:0 or 4:2:2 at full size to BGRA: the luma row and
  // the chroma rows it uses, width pixels (even).
  void (*planarFull)(BYTE* dst, const BYTE* y, const BYTE* u, const BYTE* v, int32_t width, const KvYUVMatrixQ14& m);
};

const KvYuvRowKernels& KvYuvKernelsPlain();
// The SSE2 twins (the plain kernels where the build has no SSE2).
const KvYuvRowKernels& KvYuvKernelsSse2();
// The table for a processor feature word: the SSE2 twins when it holds SSE2.
const KvYuvRowKernels& KvYuvKernelsFor(DWORD cpuFeatures);
// The table chosen on first use from KvImageCpu_GetSupport(KVCPU_SSE2).
const KvYuvRowKernels& KvYuvKernels();
