// Processor detection and feature queries.
#include "kvcpu.h"

#include <cwchar>
#include <cwctype>

namespace {

struct CpuState {
  bool detected = false;
  DWORD count = 0;
  int maxLevel = -1;         // highest standard CPUID leaf, -1 without CPUID
  DWORD detectedWord = 0;    // what the processor reports
  DWORD osWord = 0;          // what the system supports
  DWORD usableWord = 0;      // usable features, class in the low four bits
  bool hasCpuid = false;
};

CpuState g_cpu;
DWORD g_allowed = 0xFFFFFFFFu;
DWORD g_forcedClass = 0;

void Cpuid(DWORD leaf, DWORD r[4]) {
  DWORD a, b, c, d;
  __asm__ __volatile__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(leaf), "c"(0));
  r[0] = a;
  r[1] = b;
  r[2] = c;
  r[3] = d;
}

#ifdef _WIN64
// SSE and SSE2 belong to the 64-bit instruction set and the system always saves
// their state there.
bool SseExecutes() { return true; }
#else
// The SSE probe runs one SSE instruction; a system that does not save the SSE
// state raises an illegal-instruction fault, which this handler turns into a
// flag and skips (the probe instruction is three bytes long).
volatile LONG g_probeFault = 0;
void* volatile g_probeAddress = nullptr;

LONG CALLBACK ProbeHandler(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionAddress == g_probeAddress &&
      info->ExceptionRecord->ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION) {
    g_probeFault = 1;
    info->ContextRecord->Eip += 3;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

bool SseExecutes() {
  void* handler = AddVectoredExceptionHandler(1, ProbeHandler);
  if (!handler) return false;
  g_probeFault = 0;
  __asm__ __volatile__(
      "movl $1f, %0\n\t"
      "1:\n\t"
      ".byte 0x0f, 0x57, 0xc0\n\t"  // xorps xmm0, xmm0
      : "=m"(g_probeAddress)::"xmm0", "memory");
  RemoveVectoredExceptionHandler(handler);
  return g_probeFault == 0;
}
#endif

// Whether the processor accepts flush-to-zero with denormals-are-zero: the
// MXCSR mask of FXSAVE tells whether DAZ exists; the control word is written
// with both bits and then put back, so the calling thread (the host's loader
// thread) keeps its own setting.
bool FtzDazWritable() {
  alignas(16) unsigned char area[512];
  for (unsigned char& b : area) b = 0;
  __asm__ __volatile__("fxsave %0" : "=m"(area));
  DWORD mask = area[28] | (area[29] << 8) | (area[30] << 16) | (static_cast<DWORD>(area[31]) << 24);
  if (mask == 0) mask = 0xFFBF;
  if (!(mask & KV_MXCSR_DAZ)) return false;
  DWORD saved, probe;
  __asm__ __volatile__("stmxcsr %0" : "=m"(saved));
  DWORD wanted = saved | KV_MXCSR_FTZ_DAZ;
  __asm__ __volatile__("ldmxcsr %0" : : "m"(wanted));
  __asm__ __volatile__("stmxcsr %0" : "=m"(probe));
  __asm__ __volatile__("ldmxcsr %0" : : "m"(saved));
  return (probe & KV_MXCSR_FTZ_DAZ) == KV_MXCSR_FTZ_DAZ;
}

void StripCopy(wchar_t* out, const char* text, size_t n) {
  size_t start = 0;
  while (start < n && (text[start] == ' ' || text[start] == 0)) ++start;
  size_t end = n;
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == 0)) --end;
  size_t k = 0;
  for (size_t i = start; i < end; ++i) {
    if (!text[i]) break;
    out[k++] = static_cast<unsigned char>(text[i]);
  }
  out[k] = 0;
}

}  // namespace

void KvCpu_Detect() {
  if (g_cpu.detected) return;
  CpuState s;
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  s.count = si.dwNumberOfProcessors;
  // A 64-bit system reports its processors as type 8664: a Pentium-class base.
  DWORD cls = si.dwProcessorType == 486 ? 1 : (si.dwProcessorType == 586 || si.dwProcessorType == 8664) ? 2 : 0;
  if (si.dwProcessorType == 586 || si.dwProcessorType == 8664) {
    DWORD r[4];
    Cpuid(0, r);
    s.hasCpuid = true;
    s.maxLevel = static_cast<int>(r[0]);
  }
  if (s.hasCpuid && s.maxLevel >= 1) {
    DWORD r[4];
    Cpuid(1, r);
    DWORD ecx = r[2], edx = r[3];
    DWORD det = 0, os = 0, use = 0;
    if (edx & (1u << 4)) det |= KVCPU_TSC;
    if (edx & (1u << 15)) det |= KVCPU_CMOV;
    if ((edx & (1u << 15)) && (edx & 1u)) det |= KVCPU_CMOV_X87;
    if (edx & (1u << 23)) det |= KVCPU_MMX;
    if (edx & (1u << 25)) det |= KVCPU_SSE;
    if (edx & (1u << 26)) det |= KVCPU_SSE2;
    if (ecx & (1u << 0)) det |= KVCPU_SSE3;
    if (ecx & (1u << 9)) det |= KVCPU_SSSE3;
    if (ecx & (1u << 19)) det |= KVCPU_SSE41;
    if (ecx & (1u << 20)) det |= KVCPU_SSE42;
    use |= det & (KVCPU_TSC | KVCPU_CMOV | KVCPU_CMOV_X87 | KVCPU_MMX);
    if (det & KVCPU_MMX) os |= KVCPU_MMX;
    bool sseUsable = (det & KVCPU_SSE) && SseExecutes();
    if (sseUsable) {
      os |= KVCPU_SSE | KVCPU_SSE2 | KVCPU_SSE3 | KVCPU_SSSE3 | KVCPU_SSE41 | KVCPU_SSE42;
      use |= KVCPU_SSE;
      det |= KVCPU_FTZ_DAZ;
      // Usable SSE2 needs the processor's SSE2 as well as the system's SSE state.
      if (det & KVCPU_SSE2) use |= KVCPU_SSE2;
      if (det & KVCPU_SSE3) use |= KVCPU_SSE3;
      if (FtzDazWritable()) use |= KVCPU_FTZ_DAZ;
    }
    if (cls == 2 && (det & KVCPU_CMOV_X87)) {
      cls = 3;
      if (use & KVCPU_MMX) {
        cls = KVCPU_CLASS_PENTIUM_II;
        if (use & KVCPU_SSE) {
          cls = KVCPU_CLASS_PENTIUM_III;
          if (use & KVCPU_SSE2) cls = KVCPU_CLASS_PENTIUM_4;
        }
      }
    }
    s.detectedWord = det;
    s.osWord = os;
    s.usableWord = use;
  }
  s.usableWord = (s.usableWord & ~KVCPU_CLASS_MASK) | cls;
  s.detected = true;
  g_cpu = s;
}

extern "C" DWORD KVAPI KvGetCPUSupport(DWORD mask) {
  KvCpu_Detect();
  return (g_allowed & g_cpu.usableWord & (mask ? mask : 0xFFFFFFFFu)) | g_forcedClass;
}

extern "C" DWORD KVAPI KvGetCPUSupportRaw(DWORD mask) {
  KvCpu_Detect();
  return g_allowed & g_cpu.detectedWord & (mask ? mask : 0xFFFFFFFFu);
}

extern "C" DWORD KVAPI KvGetOSSupport(DWORD mask) {
  KvCpu_Detect();
  return g_cpu.osWord & (mask ? mask : 0xFFFFFFFFu);
}

extern "C" DWORD KVAPI KvGetProcessorCount() {
  KvCpu_Detect();
  return g_cpu.count;
}

extern "C" int KVAPI KvGetCPUIDMaxLevel() {
  KvCpu_Detect();
  return g_cpu.maxLevel;
}

extern "C" BOOL KVAPI KvAllowCPUSupport(DWORD bits) {
  g_allowed |= bits;
  return TRUE;
}

extern "C" BOOL KVAPI KvDisallowCPUSupport(DWORD bits) {
  g_allowed &= ~bits;
  return TRUE;
}

extern "C" BOOL KVAPI KvOnlyAllowCPUSupport(DWORD bits) {
  if (bits & ~KVCPU_SIMD_MASK) return FALSE;
  g_allowed = (g_allowed & ~KVCPU_SIMD_MASK) | bits;
  return TRUE;
}

extern "C" BOOL KVAPI KvSetCPUClassBySupport() {
  g_allowed &= ~KVCPU_CLASS_MASK;
  DWORD cls = 0;
  if (g_allowed & KVCPU_MMX) cls = KVCPU_CLASS_PENTIUM_II;
  if (g_allowed & KVCPU_SSE) cls = KVCPU_CLASS_PENTIUM_III;
  if (g_allowed & KVCPU_SSE2) cls = KVCPU_CLASS_PENTIUM_4;
  g_forcedClass = cls;
  return TRUE;
}

void KvCpu_SetForcedClass(DWORD cls) { g_forcedClass = cls & KVCPU_CLASS_MASK; }

extern "C" void KVAPI KvFourCCToStringCPU(int value, wchar_t* out) {
  if (!out) return;
  for (int i = 0; i < 4; ++i) {
    unsigned c = (static_cast<unsigned>(value) >> (8 * i)) & 0xFF;
    out[i] = (c < 32 || c > 126) ? 0 : static_cast<wchar_t>(c);
  }
  out[4] = 0;
}

extern "C" HRESULT KVAPI KvGetCPUVendorString(wchar_t* buf, DWORD cch) {
  KvCpu_Detect();
  if (!buf || cch < 13 || !g_cpu.hasCpuid) return E_FAIL;
  DWORD r[4];
  Cpuid(0, r);
  char text[12];
  const DWORD order[3] = {r[1], r[3], r[2]};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 4; ++k) text[i * 4 + k] = static_cast<char>((order[i] >> (8 * k)) & 0xFF);
  StripCopy(buf, text, 12);
  return S_OK;
}

extern "C" HRESULT KVAPI KvGetCPUBrandString(wchar_t* buf, DWORD cch) {
  KvCpu_Detect();
  if (!buf || cch < 49 || !g_cpu.hasCpuid) return E_FAIL;
  DWORD r[4];
  Cpuid(0x80000000u, r);
  if (r[0] < 0x80000004u) return E_FAIL;
  char text[48];
  for (DWORD leaf = 0; leaf < 3; ++leaf) {
    Cpuid(0x80000002u + leaf, r);
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 4; ++k) text[leaf * 16 + i * 4 + k] = static_cast<char>((r[i] >> (8 * k)) & 0xFF);
  }
  StripCopy(buf, text, 48);
  return S_OK;
}
