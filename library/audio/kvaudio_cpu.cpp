// The audio library's processor query: the words of the base library's CPU
// query (processor level in the low 4 bits, feature bits above) and its
// allow-mask. In the Windows build it is the base library's query itself, so
// a host that restricts the allowed features (KvOnlyAllowCPUSupport and the
// rest) also restricts the conversion routines handed out. Natively, where
// the base library is not built, the same words come from <cpuid.h>.
#include "kvaudio_internal.h"

#ifdef _WIN32

#include "kvcpu.h"

DWORD KvAudioCpu_GetSupport(DWORD mask) { return KvGetCPUSupport(mask); }
DWORD KvAudioCpu_GetSupportRaw(DWORD mask) { return KvGetCPUSupportRaw(mask); }
DWORD KvAudioCpu_GetOSSupport(DWORD mask) { return KvGetOSSupport(mask); }

void KvAudioCpu_OnlyAllow(DWORD features) {
  KvOnlyAllowCPUSupport(features & 0xFF0u);
  KvSetCPUClassBySupport();
  // A level above 6 may be forced through the low bits, to test the clamp.
  if (features & 0xFu) KvCpu_SetForcedClass(features & 0xFu);
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
  if (e & (1u << 23)) raw |= 0x10;   // MMX
  if (e & (1u << 25)) raw |= 0x20;   // SSE
  if (e & (1u << 26)) raw |= 0x40;   // SSE2
  if (c & (1u << 0)) raw |= 0x80;    // SSE3
  if (c & (1u << 9)) raw |= 0x100;   // SSSE3
  if (c & (1u << 19)) raw |= 0x200;  // SSE4.1
  if (c & (1u << 20)) raw |= 0x400;  // SSE4.2
  d.raw = raw;
  // Both supported systems (Windows and Linux) save the SSE state when the
  // processor has FXSAVE.
  d.os = (e & (1u << 24)) ? raw : (raw & 0x10);
  DWORD word = raw & d.os & 0xF0;
  if (e & (1u << 15)) word |= 0x1000;                     // CMOV
  if ((e & (1u << 15)) && (e & 1u)) word |= 0x2000;       // CMOV with FPU
  if (e & (1u << 4)) word |= 0x4000;                      // TSC
  if (word & 0x40) word |= 0x20000;                       // SSE2 processors take FTZ/DAZ
  DWORD level = 2;
  if (word & 0x2000) level = 3;
  if (word & 0x10) level = 4;
  if (word & 0x20) level = 5;
  if (word & 0x40) level = 6;
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
  DWORD allowed = features & ~0xFu;
  DWORD level = (allowed & 0x40) ? 6 : (allowed & 0x20) ? 5 : (allowed & 0x10) ? 4 : 0;
  // A level above 6 may be forced through the low bits, to test the clamp.
  if (features & 0xF) level = features & 0xF;
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
