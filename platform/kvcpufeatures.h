// The processor words of the library's CPU query: the processor class in the
// low four bits and one bit per feature above them. The same bits name what
// the processor reports, what the system supports and what code may use.
#pragma once

enum {
  KVCPU_CLASS_MASK = 0x0000000F,
  KVCPU_MMX = 0x00000010,
  KVCPU_SSE = 0x00000020,
  KVCPU_SSE2 = 0x00000040,
  KVCPU_SSE3 = 0x00000080,
  KVCPU_SSSE3 = 0x00000100,
  KVCPU_SSE41 = 0x00000200,
  KVCPU_SSE42 = 0x00000400,
  KVCPU_CMOV = 0x00001000,
  KVCPU_CMOV_X87 = 0x00002000,
  KVCPU_TSC = 0x00004000,
  KVCPU_FTZ_DAZ = 0x00020000,
  // The SIMD feature bits a host may allow and disallow (MMX to SSE4.2).
  KVCPU_SIMD_MASK = 0x00000FF0,
};

// The processor classes the low four bits hold.
enum {
  KVCPU_CLASS_PENTIUM_II = 4,   // MMX usable
  KVCPU_CLASS_PENTIUM_III = 5,  // SSE usable
  KVCPU_CLASS_PENTIUM_4 = 6,    // SSE2 usable
};

// MXCSR bits: flush-to-zero (bit 15) with denormals-are-zero (bit 6).
constexpr unsigned KV_MXCSR_DAZ = 0x0040u;
constexpr unsigned KV_MXCSR_FTZ_DAZ = 0x8040u;
