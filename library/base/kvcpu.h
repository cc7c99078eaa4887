// Processor queries: feature bits (detected, supported by the system, usable),
// the processor class, the allowed-feature mask, vendor and brand texts.
#pragma once

#include "kvapi.h"
#include "kvcpufeatures.h"

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
