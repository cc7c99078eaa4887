// Library initialisation and system queries: the process-wide state every
// library service reads (library and host modules, the library's language
// handle, the format engine's tokens), operating-system queries and display
// colour depth. Processor queries are in kvcpu.h.
#pragma once

#include "kvapi.h"

#include "kvcpu.h"


extern "C" {
BOOL KVAPI KvKernel_Initialize(HMODULE module, HINSTANCE host);
BOOL KVAPI KvKernel_Terminate(void);

BOOL KVAPI KvIsWin95(void);
BOOL KVAPI KvGetOS(wchar_t* buf, int cch);
BOOL KVAPI KvOSVersionOK(int level, WORD servicePack);

BOOL KVAPI KvIsHighColor(void);
BOOL KVAPI KvIsAllMonitorsHighColor(void);
BOOL KVAPI KvIsHighColorEx(BOOL force);
BOOL KVAPI KvIsAllMonitorsHighColorEx(BOOL force);

LRESULT KVAPI KvKernel_UserPrefChanges(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
HWND KVAPI KvKernel_SetSplash(HWND splash);
UINT KVAPI KvSetQuietErrorMode(void);
}

// Library-internal: the UI toolkit's part in the library's life. The kernel
// sits below the UI toolkit and never calls it directly: the toolkit hands it
// these at start-up, before KvKernel_Initialize. Initialisation loads the
// default UI colours (resetColors(TRUE)); a system colour change frees the
// cached pens and brushes (resetColors(FALSE)) and reloads them; termination
// frees every UI cache (freeCaches). Without them these steps do nothing.
struct KvKernelUiHooks {
  BOOL(KVAPI* resetColors)(BOOL loadDefaults);
  void (*freeCaches)();
};
void KvKernel_SetUiHooks(const KvKernelUiHooks& hooks);

// Library-internal: what initialisation recorded.
HMODULE KvKernel_GetModule();
HINSTANCE KvKernel_GetHostModule();
int KvKernel_GetFirstHostCursorId();
HWND KvKernel_GetSplash();

// The operating-system rules on a given version record (for tests and for
// KvGetOS/KvOSVersionOK, which pass the system's).
BOOL KvKernel_OSName(const OSVERSIONINFOW& v, wchar_t* buf, int cch);
BOOL KvKernel_OSVersionOK(const OSVERSIONINFOW& v, int level, WORD servicePack);
