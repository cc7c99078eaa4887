// The audio library's processor query: the words of the base library's CPU
// query (processor level in the low 4 bits, feature bits above) and its
// allow-mask. In the Windows build it is the base library's query itself, so
// a host that restricts the allowed features (KvOnlyAllowCPUSupport and the
// rest) also restricts the conversion routines handed out. Natively, where
// the base library is not built, the same words come from <cpuid.h>.
#include "kvaudio_internal.h"
#include "kvcpufeatures.h"

#ifdef _WIN32

#include "kvcpu.h"

DWORD KvAudioCpu_GetSupport(DWORD mask) { return KvGetCPUSupport(mask); }
DWORD KvAudioCpu_GetSupportRaw(DWORD mask) { return KvGetCPUSupportRaw(mask); }
DWORD KvAudioCpu_GetOSSupport(DWORD mask) { return KvGetOSSupport(mask); }

void KvAudioCpu_OnlyAllow(DWORD features) {
  KvOnlyAllowCPUSupport(features & KVCPU_SIMD_MASK);
  KvSetCPUClassBySupport();
  // A level above 6 may be forced through the low bits, to test the clamp.
  if (features & KVCPU_CLASS_MASK) KvCpu_SetForcedClass(features & KVCPU_CLASS_MASK);
}

void KvAudioCpu_AllowAll() {
  KvAllowCPUSupport(0xFFFFFFFFu);
  KvCpu_SetForcedClass(0);
}

#else

#include <cpuid.h>

#include <atomic>

namespace {

struct Detected {
  DWORD word = 0;  // level | usable features
  DWORD raw = 0;   // what the processor reports
  DWORD os = 0;    // SIMD features whose state the operating system saves
};

Detected Detect() {
  Detected d;
  unsigned a = 0, b = 0, c = 0, e = 0;
  if (!__get_cpuid(1, &a, &b, &c, &e)) return d;
  DWORD raw = 0;
  if (e & (1u << 23)) raw |= KVCPU_MMX;
  if (e & (1u << 25)) raw |= KVCPU_SSE;
  if (e & (1u << 26)) raw |= KVCPU_SSE2;
  if (c & (1u << 0)) raw |= KVCPU_SSE3;
  if (c & (1u << 9)) raw |= KVCPU_SSSE3;
  if (c & (1u << 19)) raw |= KVCPU_SSE41;
  if (c & (1u << 20)) raw |= KVCPU_SSE42;
  d.raw = raw;
  // Both supported systems (Windows and Linux) save the SSE state when the
  // processor has FXSAVE.
  d.os = (e & (1u << 24)) ? raw : (raw & KVCPU_MMX);
  DWORD word = raw & d.os & (KVCPU_MMX | KVCPU_SSE | KVCPU_SSE2 | KVCPU_SSE3);
  if (e & (1u << 15)) word |= KVCPU_CMOV;
  if ((e & (1u << 15)) && (e & 1u)) word |= KVCPU_CMOV_X87;
  if (e & (1u << 4)) word |= KVCPU_TSC;
  if (word & KVCPU_SSE2) word |= KVCPU_FTZ_DAZ;  // SSE2 processors take FTZ/DAZ
  DWORD level = 2;
  if (word & KVCPU_CMOV_X87) level = 3;
  if (word & KVCPU_MMX) level = KVCPU_CLASS_PENTIUM_II;
  if (word & KVCPU_SSE) level = KVCPU_CLASS_PENTIUM_III;
  if (word & KVCPU_SSE2) level = KVCPU_CLASS_PENTIUM_4;
  d.word = word | level;
  return d;
}

const Detected& Cached() {
  static const Detected d = Detect();
  return d;
}

std::atomic<DWORD> g_allowed{0xFFFFFFFFu};
std::atomic<DWORD> g_forcedLevel{0};

}  // namespace

DWORD KvAudioCpu_GetSupport(DWORD mask) {
  DWORD m = mask ? mask : 0xFFFFFFFFu;
  return (g_allowed.load() & Cached().word & m) | (g_forcedLevel.load() & m);
}

DWORD KvAudioCpu_GetSupportRaw(DWORD mask) {
  DWORD m = mask ? mask : 0xFFFFFFFFu;
  return g_allowed.load() & Cached().raw & m;
}

DWORD KvAudioCpu_GetOSSupport(DWORD mask) {
  DWORD m = mask ? mask : 0xFFFFFFFFu;
  return Cached().os & m;
}

void KvAudioCpu_OnlyAllow(DWORD features) {
  DWORD allowed = features & ~KVCPU_CLASS_MASK;
  DWORD level = (allowed & KVCPU_SSE2)  ? KVCPU_CLASS_PENTIUM_4
                : (allowed & KVCPU_SSE) ? KVCPU_CLASS_PENTIUM_III
                : (allowed & KVCPU_MMX) ? KVCPU_CLASS_PENTIUM_II
                                        : 0;
  // A level above 6 may be forced through the low bits, to test the clamp.
  if (features & KVCPU_CLASS_MASK) level = features & KVCPU_CLASS_MASK;
  g_allowed = allowed;
  g_forcedLevel = level;
}

void KvAudioCpu_AllowAll() {
  g_allowed = 0xFFFFFFFFu;
  g_forcedLevel = 0;
}

#endif  // _WIN32

#ifdef _WIN32
#include <windows.h>
void* KvAudioMem_Alloc(size_t bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes ? bytes : 1);
  if (!h) return nullptr;
  void* p = GlobalLock(h);
  if (!p) GlobalFree(h);
  return p;
}
void KvAudioMem_Free(void* p) {
  if (!p) return;
  HGLOBAL h = GlobalHandle(p);
  if (h) {
    GlobalUnlock(h);
    GlobalFree(h);
  }
}
#else
#include <cstdlib>
void* KvAudioMem_Alloc(size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }
void KvAudioMem_Free(void* p) { std::free(p); }
#endif
