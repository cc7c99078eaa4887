// Processor queries: feature bits (detected, supported by the system, usable),
// the processor class, the allowed-feature mask, vendor and brand texts.
#pragma once

#include "kvapi.h"


// Feature bits shared by the detected, OS-support and usable words.
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
};

extern "C" {
DWORD KVAPI KvGetCPUSupport(DWORD mask);
DWORD KVAPI KvGetCPUSupportRaw(DWORD mask);
DWORD KVAPI KvGetOSSupport(DWORD mask);
DWORD KVAPI KvGetProcessorCount();
int KVAPI KvGetCPUIDMaxLevel();
BOOL KVAPI KvAllowCPUSupport(DWORD bits);
BOOL KVAPI KvDisallowCPUSupport(DWORD bits);
BOOL KVAPI KvOnlyAllowCPUSupport(DWORD bits);
BOOL KVAPI KvSetCPUClassBySupport();
void KVAPI KvFourCCToStringCPU(int value, wchar_t* out);
HRESULT KVAPI KvGetCPUVendorString(wchar_t* buf, DWORD cch);
HRESULT KVAPI KvGetCPUBrandString(wchar_t* buf, DWORD cch);
}

// Library-internal: runs the detection once (library initialisation calls it early).
void KvCpu_Detect();
// Library-internal: sets the forced class outright (0 for none), for tests of
// the code that picks routines by class, including classes above 6.
void KvCpu_SetForcedClass(DWORD cls);
