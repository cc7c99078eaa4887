// Internal: the routines behind the vector-math table (generic, SSE, SSE2).
#pragma once

#include "vecmath.h"

#define VECMATH_DECLARE_GENERIC(slot, name, ret, params, args, sse, sse2) ret name##Generic params;
VECMATH_OPS(VECMATH_DECLARE_GENERIC)
#undef VECMATH_DECLARE_GENERIC

// Tables of the SSE and SSE2 kernels; slots without a kernel are null. On a
// host without SSE the tables are empty.
extern const VecMathTable kVecMathSseKernels;
extern const VecMathTable kVecMathSse2Kernels;
