// The codec's vector operations and their dispatch table.
//
// Every operation has an entry function (vecCopy, vecScale, ...) that calls
// the routine in its slot of vecMathTable. The table holds the portable
// (generic) routines from load, so every operation works at any time;
// VecMathInit replaces slots by SSE and SSE2 kernels when the processor has
// those instruction sets.
//
// Conventions: n is the element count (0 does nothing, reductions return 0);
// z is the destination; strided forms take one stride per array, in
// elements, right after that array's pointer. Element-wise operations may
// run in place (z == x) and process elements in ascending order. Arrays may
// have any alignment; the packed kernels run only on 16-byte-aligned arrays.
//
// Results: the generic routine is the definition. SSE kernels marked "same"
// or "packed" below compute exactly the generic result, except the packed
// reductions (vecSum, vecDotProduct, vecSquaredDistance: different rounding
// order), vecComplexMagnitude/vecComplexPower (single-precision products) and
// the packed conversions (vecRoundClip16, vecFloatToInt, vecFloatToShort:
// halves round to even, NaN gives -2147483648 / -32768).
#pragma once

#include <cstdint>

// X(slot, name, result, (parameters), (arguments), SSE kernel, SSE2 kernel)
// SSE kernel: packed = own packed kernel, same = own kernel computing the
// generic rule, generic = slot rewritten with the generic routine, none = not
// touched.
#define VECMATH_OPS(X)                                                                          \
  X(0, vecSum, float, (const float* x, int32_t n), (x, n), packed, none)                        \
  X(1, vecAdd, void, (const float* x, const float* y, float* z, int32_t n), (x, y, z, n),       \
    packed, none)                                                                               \
  X(2, vecAddStrided, void,                                                                     \
    (const float* x, int32_t sx, const float* y, int32_t sy, float* z, int32_t sz, int32_t n),  \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(3, vecAddScalar, void, (float c, const float* x, float* z, int32_t n), (c, x, z, n),        \
    packed, none)                                                                               \
  X(4, vecSub, void, (const float* x, const float* y, float* z, int32_t n), (x, y, z, n),       \
    packed, none)                                                                               \
  X(5, vecSubStrided, void,                                                                     \
    (const float* x, int32_t sx, const float* y, int32_t sy, float* z, int32_t sz, int32_t n),  \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(6, vecMul, void, (const float* x, const float* y, float* z, int32_t n), (x, y, z, n),       \
    packed, none)                                                                               \
  X(7, vecMulStrided, void,                                                                     \
    (const float* x, int32_t sx, const float* y, int32_t sy, float* z, int32_t sz, int32_t n),  \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(8, vecDiv, void, (const float* x, const float* y, float* z, int32_t n), (x, y, z, n),       \
    generic, none)                                                                              \
  X(9, vecDivStrided, void,                                                                     \
    (const float* x, int32_t sx, const float* y, int32_t sy, float* z, int32_t sz, int32_t n),  \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(10, vecCopy, void, (const float* src, float* dst, int32_t n), (src, dst, n), packed, none)  \
  X(11, vecCopyStrided, void, (const float* src, int32_t ss, float* dst, int32_t sd, int32_t n), \
    (src, ss, dst, sd, n), same, none)                                                          \
  X(12, vecScale, void, (float c, const float* x, float* z, int32_t n), (c, x, z, n), packed,   \
    none)                                                                                       \
  X(13, vecScaleStrided, void, (float c, const float* x, int32_t sx, float* z, int32_t sz,      \
                                int32_t n),                                                     \
    (c, x, sx, z, sz, n), same, none)                                                           \
  X(14, vecFill, void, (float value, float* dst, int32_t n), (value, dst, n), packed, none)     \
  X(15, vecFillStrided, void, (float value, float* dst, int32_t stride, int32_t n),             \
    (value, dst, stride, n), same, none)                                                        \
  X(16, vecDotProduct, float, (const float* x, const float* y, int32_t n), (x, y, n), packed,   \
    none)                                                                                       \
  X(17, vecDotProductStrided, float,                                                            \
    (const float* x, int32_t sx, const float* y, int32_t sy, int32_t n), (x, sx, y, sy, n),     \
    none, none)                                                                                 \
  X(18, vecSquaredDistance, float, (const float* x, const float* y, int32_t n), (x, y, n),      \
    packed, none)                                                                               \
  X(19, vecSquaredDistanceStrided, float,                                                       \
    (const float* x, int32_t sx, const float* y, int32_t sy, int32_t n), (x, sx, y, sy, n),     \
    same, none)                                                                                 \
  X(20, vecEnergy, float, (const float* x, int32_t n), (x, n), same, none)                      \
  X(21, vecComplexMagnitude, void, (const float* x, float* z, int32_t n), (x, z, n), packed,    \
    none)                                                                                       \
  X(22, vecComplexPower, void, (const float* x, float* z, int32_t n), (x, z, n), packed, none)  \
  X(23, ivecAdd, void, (const int32_t* x, const int32_t* y, int32_t* z, int32_t n),             \
    (x, y, z, n), same, none)                                                                   \
  X(24, ivecAddStrided, void,                                                                   \
    (const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z, int32_t sz,        \
     int32_t n),                                                                                \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(25, ivecSub, void, (const int32_t* x, const int32_t* y, int32_t* z, int32_t n),             \
    (x, y, z, n), same, none)                                                                   \
  X(26, ivecSubStrided, void,                                                                   \
    (const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z, int32_t sz,        \
     int32_t n),                                                                                \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(27, ivecMul, void, (const int32_t* x, const int32_t* y, int32_t* z, int32_t n),             \
    (x, y, z, n), same, none)                                                                   \
  X(28, ivecMulStrided, void,                                                                   \
    (const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z, int32_t sz,        \
     int32_t n),                                                                                \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(29, ivecDiv, void, (const int32_t* x, const int32_t* y, int32_t* z, int32_t n),             \
    (x, y, z, n), same, none)                                                                   \
  X(30, ivecDivStrided, void,                                                                   \
    (const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z, int32_t sz,        \
     int32_t n),                                                                                \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(31, ivecScale, void, (int32_t c, const int32_t* x, int32_t* z, int32_t n), (c, x, z, n),    \
    same, none)                                                                                 \
  X(32, ivecScaleStrided, void,                                                                 \
    (int32_t c, const int32_t* x, int32_t sx, int32_t* z, int32_t sz, int32_t n),               \
    (c, x, sx, z, sz, n), same, none)                                                           \
  X(33, vecScaleInPlace, void, (float c, float* x, int32_t n), (c, x, n), same, none)           \
  X(34, ivecScaleInPlace, void, (int32_t c, int32_t* x, int32_t n), (c, x, n), same, none)      \
  X(35, ivecCopy, void, (const int32_t* src, int32_t* dst, int32_t n), (src, dst, n), packed,   \
    none)                                                                                       \
  X(36, ivecCopyStrided, void,                                                                  \
    (const int32_t* src, int32_t ss, int32_t* dst, int32_t sd, int32_t n),                      \
    (src, ss, dst, sd, n), same, none)                                                          \
  X(37, ivecFill, void, (int32_t value, int32_t* dst, int32_t n), (value, dst, n), same,        \
    packed)                                                                                     \
  X(38, ivecFillStrided, void, (int32_t value, int32_t* dst, int32_t stride, int32_t n),        \
    (value, dst, stride, n), same, none)                                                        \
  X(39, bvecCopy, void, (const uint8_t* src, uint8_t* dst, int32_t n), (src, dst, n), none,     \
    none)                                                                                       \
  X(40, vecMin, void, (const float* x, const float* y, float* z, int32_t n), (x, y, z, n),      \
    packed, none)                                                                               \
  X(41, vecMinStrided, void,                                                                    \
    (const float* x, int32_t sx, const float* y, int32_t sy, float* z, int32_t sz, int32_t n),  \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(42, vecMinValue, float, (const float* x, int32_t n), (x, n), packed, none)                  \
  X(43, vecMax, void, (const float* x, const float* y, float* z, int32_t n), (x, y, z, n),      \
    packed, none)                                                                               \
  X(44, vecMaxStrided, void,                                                                    \
    (const float* x, int32_t sx, const float* y, int32_t sy, float* z, int32_t sz, int32_t n),  \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(45, vecMaxValue, float, (const float* x, int32_t n), (x, n), packed, none)                  \
  X(46, vecAbs, void, (const float* x, float* z, int32_t n), (x, z, n), packed, none)           \
  X(47, vecAbsStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),     \
    (x, sx, z, sz, n), same, none)                                                              \
  X(48, vecClip, void, (float lo, float hi, const float* x, float* z, int32_t n),               \
    (lo, hi, x, z, n), packed, none)                                                            \
  X(49, vecClipStrided, void,                                                                   \
    (float lo, float hi, const float* x, int32_t sx, float* z, int32_t sz, int32_t n),          \
    (lo, hi, x, sx, z, sz, n), same, none)                                                      \
  X(50, vecSign, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)            \
  X(51, vecSignStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),    \
    (x, sx, z, sz, n), same, none)                                                              \
  X(52, ivecMin, void, (const int32_t* x, const int32_t* y, int32_t* z, int32_t n),             \
    (x, y, z, n), same, none)                                                                   \
  X(53, ivecMinStrided, void,                                                                   \
    (const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z, int32_t sz,        \
     int32_t n),                                                                                \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(54, ivecMax, void, (const int32_t* x, const int32_t* y, int32_t* z, int32_t n),             \
    (x, y, z, n), same, none)                                                                   \
  X(55, ivecMaxStrided, void,                                                                   \
    (const int32_t* x, int32_t sx, const int32_t* y, int32_t sy, int32_t* z, int32_t sz,        \
     int32_t n),                                                                                \
    (x, sx, y, sy, z, sz, n), same, none)                                                       \
  X(56, ivecAbs, void, (const int32_t* x, int32_t* z, int32_t n), (x, z, n), same, none)        \
  X(57, ivecAbsStrided, void,                                                                   \
    (const int32_t* x, int32_t sx, int32_t* z, int32_t sz, int32_t n), (x, sx, z, sz, n),       \
    same, none)                                                                                 \
  X(58, ivecClip, void, (int32_t lo, int32_t hi, const int32_t* x, int32_t* z, int32_t n),      \
    (lo, hi, x, z, n), same, none)                                                              \
  X(59, ivecClipStrided, void,                                                                  \
    (int32_t lo, int32_t hi, const int32_t* x, int32_t sx, int32_t* z, int32_t sz, int32_t n),  \
    (lo, hi, x, sx, z, sz, n), same, none)                                                      \
  X(60, ivecSign, void, (const int32_t* x, int32_t* z, int32_t n), (x, z, n), same, none)       \
  X(61, ivecSignStrided, void,                                                                  \
    (const int32_t* x, int32_t sx, int32_t* z, int32_t sz, int32_t n), (x, sx, z, sz, n),       \
    same, none)                                                                                 \
  X(62, vecFloor, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)           \
  X(63, vecFloorStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),   \
    (x, sx, z, sz, n), same, none)                                                              \
  X(64, vecCeil, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)            \
  X(65, vecCeilStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),    \
    (x, sx, z, sz, n), same, none)                                                              \
  X(66, ilog2Ceil, int32_t, (int32_t n), (n), none, none)                                       \
  X(67, vecRound, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)           \
  X(68, vecRoundStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),   \
    (x, sx, z, sz, n), same, none)                                                              \
  X(69, vecTrunc, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)           \
  X(70, vecTruncStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),   \
    (x, sx, z, sz, n), same, none)                                                              \
  X(71, vecRoundClip16, void, (const float* x, float* z, int32_t n), (x, z, n), packed, packed) \
  X(72, vecFloatToInt, void, (const float* x, int32_t* z, int32_t n), (x, z, n), none, packed)  \
  X(73, vecFloatToShort, void, (const float* x, int16_t* z, int32_t n), (x, z, n), none,        \
    packed)                                                                                     \
  X(74, vecSin, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)             \
  X(75, vecSinStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),     \
    (x, sx, z, sz, n), same, none)                                                              \
  X(76, vecCos, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)             \
  X(77, vecCosStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),     \
    (x, sx, z, sz, n), same, none)                                                              \
  X(78, vecExp, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)             \
  X(79, vecExpStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),     \
    (x, sx, z, sz, n), same, none)                                                              \
  X(80, vecPow, void, (float c, const float* x, float* z, int32_t n), (c, x, z, n), same, none) \
  X(81, vecPowStrided, void,                                                                    \
    (float c, const float* x, int32_t sx, float* z, int32_t sz, int32_t n),                     \
    (c, x, sx, z, sz, n), same, none)                                                           \
  X(82, vecLog, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)             \
  X(83, vecLogStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),     \
    (x, sx, z, sz, n), same, none)                                                              \
  X(84, vecLog2, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)            \
  X(85, vecLog2Strided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),    \
    (x, sx, z, sz, n), same, none)                                                              \
  X(86, vecLog10, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)           \
  X(87, vecLog10Strided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),   \
    (x, sx, z, sz, n), same, none)                                                              \
  X(88, vecScaledLog, void, (float a, float b, const float* x, float* z, int32_t n),            \
    (a, b, x, z, n), same, none)                                                                \
  X(89, vecScaledLogStrided, void,                                                              \
    (float a, float b, const float* x, int32_t sx, float* z, int32_t sz, int32_t n),            \
    (a, b, x, sx, z, sz, n), same, none)                                                        \
  X(90, vecSqrt, void, (const float* x, float* z, int32_t n), (x, z, n), same, none)            \
  X(91, vecSqrtStrided, void, (const float* x, int32_t sx, float* z, int32_t sz, int32_t n),    \
    (x, sx, z, sz, n), same, none)                                                              \
  X(92, vecRandom, void, (float* z, int32_t n), (z, n), none, none)                             \
  X(93, vecRandomDouble, void, (double* z, int32_t n), (z, n), none, none)                      \
  X(94, randomSeed, void, (int32_t seed), (seed), none, none)                                   \
  X(95, randomSaveState, void, (double* state), (state), none, none)                            \
  X(96, randomRestoreState, void, (const double* state), (state), none, none)                   \
  X(97, vecFloatToIntScaled, void,                                                              \
    (float offset, float scale, const float* x, int32_t* z, int32_t n),                         \
    (offset, scale, x, z, n), none, none)

// Entry functions: one per operation, forwarding to the routine in its slot.
#define VECMATH_DECLARE_ENTRY(slot, name, ret, params, args, sse, sse2) ret name params;
VECMATH_OPS(VECMATH_DECLARE_ENTRY)
#undef VECMATH_DECLARE_ENTRY

// The dispatch table: one routine pointer per operation, in slot order.
struct VecMathTable {
#define VECMATH_TABLE_FIELD(slot, name, ret, params, args, sse, sse2) ret(*name) params;
  VECMATH_OPS(VECMATH_TABLE_FIELD)
#undef VECMATH_TABLE_FIELD
};

constexpr int kVecMathSlots = 98;
extern VecMathTable vecMathTable;

// Installs the SSE kernels when the processor has SSE and the SSE2 kernels
// when it has SSE2 (each independently); returns cpuHasFeature(kCpuFeatureSse2). Any number
// of calls write the same values.
int32_t VecMathInit();

// Installs the kernels as VecMathInit does for the given answers (the table
// is first reset to the generic routines). For tests and benchmarks.
void vecMathInstall(bool sse, bool sse2);

// The routine tables: generic, SSE (null where a slot has no SSE kernel) and
// SSE2 (null where a slot has no SSE2 kernel).
const VecMathTable& vecMathGenericTable();
const VecMathTable& vecMathSseTable();
const VecMathTable& vecMathSse2Table();

// The routine in slot i of a table, as an opaque pointer (null for i out of
// range); for comparing tables.
const void* vecMathSlot(const VecMathTable& table, int i);
