// Sample conversion routines: the generic routine of every pair and the
// processor-specific versions of the hot pairs (internal to the library; the
// dispatch chooses among them).
#pragma once

#include "kvaudio_internal.h"

// Generic routine of (dst, src), or null when the pair has none.
tKvAudioCopyFunc KvConvert_Generic(KVSAMPLETYPE dstType, KVSAMPLETYPE srcType);

// Processor-specific versions. Each computes what the generic routine of its
// pair computes (float-source versions form the product in single precision,
// so with a gain other than 1.0 a result may differ by one step).
void KVAPI KvCvt_F32ToU8_Sse(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_F32ToS16_Sse(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_F32ToS24_Sse(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_F64ToU8_Sse2(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_F64ToS16_Sse2(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_F64ToS24_Sse2(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_S16ToF32_Sse(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_S16ToF32_Sse2(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_S16ToF32_Sse41(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_S16ToF64_Sse2(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_F64ToF32_Sse2(void* dst, const void* src, int32_t count, float gain);
void KVAPI KvCvt_F32ToF64_Sse2(void* dst, const void* src, int32_t count, float gain);

// MXCSR guard: 0 selects round to nearest (and FTZ/DAZ where the processor
// accepts them) and returns the previous value; a non-zero value is loaded.
uint32_t SetMxcsrRoundNearest(uint32_t mxcsr);
