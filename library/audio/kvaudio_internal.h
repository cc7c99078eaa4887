// Internals shared by the audio library's files (not exported): memory blocks
// handed to callers, the processor query and the sample encodings.
#pragma once

#include <cstring>

#include "kvaudio.h"

// Zero-filled blocks handed to callers: locked global memory on Windows, the
// runtime's heap natively. Free with KvAudioMem_Free.
void* KvAudioMem_Alloc(size_t bytes);
void KvAudioMem_Free(void* p);

// Processor query in the words of the base library's CPU query (level in the
// low 4 bits; 0x10 MMX, 0x20 SSE, 0x40 SSE2, 0x20000 FTZ/DAZ; raw/OS words
// with 0x200 SSE4.1): on Windows the base library's query and allow-mask
// themselves, natively a <cpuid.h> query of the same form.
DWORD KvAudioCpu_GetSupport(DWORD mask);
DWORD KvAudioCpu_GetSupportRaw(DWORD mask);
DWORD KvAudioCpu_GetOSSupport(DWORD mask);
// Test hooks: restrict the features the library may use and force the level
// from what remains (on Windows through the base library's allow-mask);
// AllowAll undoes it.
void KvAudioCpu_OnlyAllow(DWORD features);
void KvAudioCpu_AllowAll();

// Rounds to nearest with ties to even by adding 1.5 * 2^52 and taking the low
// 32 bits of the sum: exact for |x| < 2^31 when the arithmetic is IEEE double
// (SSE2), which the build guarantees.
inline int32_t KvRoundHalfEven(double x) {
  double t = x + 6755399441055744.0;
  uint64_t bits;
  std::memcpy(&bits, &t, sizeof bits);
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

// Clip to [lo, hi] (a NaN passes unchanged), then round half to even.
inline int32_t KvClipRoundD(double x, double lo, double hi) {
  if (x < lo)
    x = lo;
  else if (x > hi)
    x = hi;
  return KvRoundHalfEven(x);
}

// Index 0..10 of a linear sample type, -1 for any other code.
int KvAudio_TypeIndex(KVSAMPLETYPE type);

// Reads sample i of a linear type as a fraction of full scale (the value
// v / 2^(b-1) for integers); writes a fraction back (rounded half to even
// and clipped for integers, unclipped for float types).
double KvAudio_ReadFraction(KVSAMPLETYPE type, const void* buf, size_t i);
void KvAudio_WriteFraction(KVSAMPLETYPE type, void* buf, size_t i, double x);
