// The image library's processor query and its hold on the module. In the
// Windows build the query is the base library's (so a host that disallows a
// feature with KvDisallowCPUSupport also turns off the kernels using it);
// natively the same bits come from the processor itself, with an allow-mask
// of their own for tests.
#pragma once

#include "kvapi.h"
#include "kvcpufeatures.h"

// The feature word limited to mask (0: every bit), as KvGetCPUSupport gives it.
DWORD KvImageCpu_GetSupport(DWORD mask);
// Tests: clear feature bits from the allowed mask, and allow everything again.
void KvImageCpu_Disallow(DWORD bits);
void KvImageCpu_AllowAll();

// Keeps the module that holds the library loaded until the process ends. The
// parallel row loops leave worker threads running code of this module, so it
// must never be unloaded once one has run. Windows only; elsewhere nothing.
void KvImagePinModule();
